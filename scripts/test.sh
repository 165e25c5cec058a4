#!/usr/bin/env bash
# Runs every test of Skarvel: installs what a fresh Debian 12 machine lacks,
# then builds and runs the suite five ways:
#   build        normal build (GUI included), all tests
#   build-asan   AddressSanitizer + UndefinedBehaviorSanitizer, all tests
#   build-tsan   ThreadSanitizer, the tests without Qt (threads of the link and worker)
#   build-fuzz   clang + libFuzzer, each fuzz target for a few seconds
#   build-win    Windows cross build (mingw-w64) of everything below the
#                window; its tests and a zvt.exe round trip run under wine
#                against the native zvt-sim of build/
# Usage: scripts/test.sh [stage...]   (stages: main asan tsan fuzz windows; default all)
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

scripts/deps.sh || exit 1

JOBS=${JOBS:-$(nproc)}
WERROR=OFF
[ -n "${CI:-}" ] && WERROR=ON
export QT_QPA_PLATFORM=offscreen
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export LSAN_OPTIONS=suppressions=$ROOT/tests/lsan.supp:print_suppressions=0
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$ROOT/tests/tsan.supp
# Compiler results are cached between runs (and between clones: paths are
# taken relative to the clone), so a run after a small change rebuilds little.
LAUNCHER=()
if command -v ccache >/dev/null; then
    export CCACHE_BASEDIR=$ROOT CCACHE_NOHASHDIR=1
    LAUNCHER=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

stages=("$@")
[ ${#stages[@]} -eq 0 ] && stages=(main asan tsan fuzz windows)

passed=0
failed=0
failed_names=()

run_stage() {
    local name=$1 dir=$2; shift 2
    local ctest_args=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do ctest_args+=("$1"); shift; done
    [ "${1:-}" = "--" ] && shift
    echo "=== $name: configure and build in $dir"
    mkdir -p "$dir"
    if cmake -S "$ROOT" -B "$dir" -G Ninja -DSKARVEL_WERROR=$WERROR "${LAUNCHER[@]}" "$@" >"$dir/configure.log" 2>&1 \
        && cmake --build "$dir" -j "$JOBS"; then
        echo "=== $name: tests"
        if (cd "$dir" && ctest --output-on-failure -j "$JOBS" "${ctest_args[@]}"); then
            passed=$((passed + 1))
            return
        fi
    else
        tail -20 "$dir/configure.log" 2>/dev/null
    fi
    failed=$((failed + 1))
    failed_names+=("$name")
}

# The Windows tests run zvt-sim and two helpers of a native build outside
# wine: build/ (made by the main stage, or just these targets here).
run_windows() {
    echo "=== windows: native tools in build"
    mkdir -p build
    if ! { [ -f build/build.ninja ] || cmake -S "$ROOT" -B build -G Ninja -DSKARVEL_WERROR=$WERROR \
               -DCMAKE_BUILD_TYPE=RelWithDebInfo >build/configure.log 2>&1; } \
        || ! cmake --build build -j "$JOBS" --target zvt-sim skarvel-sim-broker skarvel_tiocm_shim; then
        tail -20 build/configure.log 2>/dev/null
        failed=$((failed + 1))
        failed_names+=(windows)
        return
    fi
    # The tests spend most of their time waiting for wine to start a program
    # and for the simulator: twice as many run at once as there are cores.
    run_stage windows build-win -j "$((JOBS * 2))" -- -DCMAKE_BUILD_TYPE=Release -DSKARVEL_GUI=OFF \
        "-DCMAKE_TOOLCHAIN_FILE=$ROOT/cmake/mingw-w64-x86_64.cmake" "-DSKARVEL_HOST_TOOLS=$ROOT/build"
    # The broker and the wine server end on their own when idle; not later than now.
    [ -x build-win/wine/wine_run.sh ] && build-win/wine/wine_run.sh --shutdown
}

for s in "${stages[@]}"; do
    case $s in
        main) run_stage main build -- -DCMAKE_BUILD_TYPE=RelWithDebInfo ;;
        asan) run_stage asan build-asan -- -DCMAKE_BUILD_TYPE=Debug "-DSKARVEL_SANITIZE=address,undefined" ;;
        tsan) run_stage tsan build-tsan -LE "slow|nosan" -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSKARVEL_SANITIZE=thread -DSKARVEL_GUI=OFF ;;
        windows) run_windows ;;
        fuzz) run_stage fuzz build-fuzz -L fuzz -- -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSKARVEL_GUI=OFF -DSKARVEL_TESTS=OFF -DSKARVEL_FUZZ=ON ;;
        *) echo "unknown stage $s"; failed=$((failed + 1)) ;;
    esac
done

[ ${#failed_names[@]} -gt 0 ] && echo "failed stages: ${failed_names[*]}"
echo "stages: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
