#!/usr/bin/env bash
# scripts/run.sh --cli as users run it, on programs already built:
#
#   demo_runs.sh RUN_SH ZVT_SIM ZVT BASE CASE [KIND]
#
# Every case works on copies of run.sh and the two programs in a scratch
# folder of its own, with the demo's temporary directory inside it.
#   first-then-again  a first run makes the user's demo folder and medium, a
#                     second uses them again; the folder is left in BASE
#   damaged KIND      BASE's medium spoilt one way; the run says so, makes
#                     it anew (or writes a deleted program again) and passes
#   stops KIND        the run stops and names why
#   two-users         root runs the demo, then an unprivileged user; exit
#                     77 (skipped) when the tests do not run as root
set -uo pipefail

[ $# -ge 5 ] || { echo "usage: demo_runs.sh RUN_SH ZVT_SIM ZVT BASE CASE [KIND]" >&2; exit 2; }
RUN_SH=$1 ZVT_SIM=$2 ZVT_BIN=$3 BASE=$4 CASE=$5 KIND=${6:-}
TEST_USER=skarvel-demo-test

T=$(mktemp -d "${TMPDIR:-/tmp}/skarvel-demo-test.XXXXXX") || exit 1
HELD=
cleanup() {
    if [ -n "$HELD" ]; then kill "$HELD" 2>/dev/null; wait "$HELD" 2>/dev/null; fi
    rm -rf "$T"
}
trap cleanup EXIT

fail() {
    echo "demo_runs: FAILED: $*" >&2
    [ -f "$T/out" ] && { echo "--- the run's output" >&2; cat "$T/out" >&2; }
    exit 1
}

mkdir -p "$T/scripts" "$T/build/tools/zvt-sim" "$T/build/tools/zvt" "$T/tmp"
chmod 1777 "$T/tmp"
cp "$RUN_SH" "$T/scripts/run.sh"
cp "$ZVT_SIM" "$T/build/tools/zvt-sim/zvt-sim"
cp "$ZVT_BIN" "$T/build/tools/zvt/zvt"
MY_DIR=$T/tmp/skarvel-demo-$(id -u)

# Runs the demo with the given command prefix (env settings, runuser) into
# $T/out; returns its exit code. The simulator answers at once, but for one
# run at the line's real pace exactly as a user runs it.
PACE=(--unpaced)
run_demo() {
    (cd "$T" && "$@" bash "$T/scripts/run.sh" --cli --build-dir "$T/build" ${PACE[@]+"${PACE[@]}"}) >"$T/out" 2>&1
}
# The demo as this user, in the scratch temporary directory.
run_mine() { run_demo env -u XDG_RUNTIME_DIR -u SKARVEL_DEMO_DIR "TMPDIR=$T/tmp" "$@"; }

says() { grep -qF -- "$1" "$T/out"; }
expect_says() { says "$1" || fail "the run did not say: $1"; }
expect_passed() {
    expect_says "came back byte for byte"
    expect_says "$1"
}
# The demo folder: a folder of user $2 with mode 0700.
expect_private() {
    [ -d "$1" ] && [ ! -L "$1" ] || fail "no demo folder $1"
    [ "$(stat -c '%U %a' "$1")" = "$2 700" ] || fail "$1 is $(stat -c '%U %a' "$1"), not $2 700"
}

first_then_again() {
    mkdir -m 0700 "$T/xdg"
    run_demo env -u SKARVEL_DEMO_DIR "XDG_RUNTIME_DIR=$T/xdg" "TMPDIR=$T/tmp" || fail "the first run failed"
    expect_passed "formatting the simulated medium"
    expect_private "$T/xdg/skarvel-demo" "$(id -un)"
    [ -z "$(ls -A "$T/tmp")" ] || fail "the run wrote into the temporary directory although \$XDG_RUNTIME_DIR is set"
    cmp -s "$T/xdg/skarvel-demo/pc/shaft.tnc" "$T/xdg/skarvel-demo/loaded/SHAFT.TNC" || fail "SHAFT.TNC came back changed"

    PACE=()
    run_demo env -u SKARVEL_DEMO_DIR "XDG_RUNTIME_DIR=$T/xdg" "TMPDIR=$T/tmp" || fail "the second run failed"
    expect_passed "using the demo medium of an earlier run"
    says "formatting" && fail "the second run formatted the medium again"

    rm -rf "$BASE"
    cp -a "$T/xdg/skarvel-demo" "$BASE" || fail "cannot keep the demo folder in $BASE"
}

# Spoils a copy of BASE's demo folder one way; the run says what it found.
damaged() {
    [ -s "$BASE/medium.img" ] || fail "no demo medium in $BASE (the first-then-again case makes it)"
    cp -a "$BASE" "$MY_DIR"
    local want formats=yes
    case $KIND in
        wrong-size)
            truncate -s 1M "$MY_DIR/medium.img"
            want="the demo medium's image holds 1048576 bytes instead of 2097152: making it anew" ;;
        unformatted)
            dd if=/dev/zero of="$MY_DIR/medium.img" bs=512 count=1 conv=notrunc status=none
            want="the demo medium does not pass zvt check (носитель не отформатирован" ;;
        older-version)
            echo "skarvel-demo 1" >"$MY_DIR/medium.version"
            want="the demo medium was made by another demo version (skarvel-demo 1," ;;
        deleted-program)
            "$ZVT_SIM" --image "$MY_DIR/medium.img" --link "$T/port" >"$T/sim.out" 2>&1 &
            HELD=$!
            for _ in $(seq 100); do grep -q '^PTY ' "$T/sim.out" && break; sleep 0.05; done
            "$ZVT_BIN" --port "$T/port" rm SHAFT.TNC >/dev/null || fail "cannot delete SHAFT.TNC beforehand"
            kill "$HELD"; wait "$HELD"; HELD=
            want="writing the demo programs missing on the medium again"
            formats=no ;;
        *) fail "unknown kind of damage $KIND" ;;
    esac
    run_mine || fail "the run on a medium with $KIND failed"
    expect_passed "$want"
    if [ $formats = yes ]; then
        expect_says "formatting the simulated medium"
        [ "$(cat "$MY_DIR/medium.version")" = "$(cat "$BASE/medium.version")" ] || fail "the new medium has no stamp"
    else
        says "formatting" && fail "the medium was formatted although it was sound"
    fi
    [ "$(stat -c %s "$MY_DIR/medium.img")" -eq 2097152 ] || fail "the new medium is not 2 MiB"
}

stops() {
    local want
    case $KIND in
        folder-is-a-link)
            mkdir "$T/elsewhere"
            ln -s "$T/elsewhere" "$MY_DIR"
            want="$MY_DIR is not a folder of user $(id -un)" ;;
        simulator-fails)
            # A file where the simulator makes its link: it refuses to start.
            mkdir -m 0700 "$MY_DIR"
            touch "$MY_DIR/zvt-port"
            want="the simulator did not start: zvt-sim: --link $MY_DIR/zvt-port exists and is not a symlink; its log: $MY_DIR/sim.log" ;;
        demo-running)
            mkdir -m 0700 "$MY_DIR"
            exec 8>"$MY_DIR/run.lock"
            flock -n 8 || fail "cannot take the demo folder's lock"
            want="another scripts/run.sh is using $MY_DIR" ;;
        *) fail "unknown kind $KIND" ;;
    esac
    run_mine && fail "the run passed"
    expect_says "run.sh: $want"
    [ -z "$(ls -A "$T/elsewhere" 2>/dev/null)" ] || fail "the run wrote into the folder a link led to"
}

# Root first, then a user without privileges in the same temporary
# directory, with root's $XDG_RUNTIME_DIR passed on as su and runuser do.
two_users() {
    if [ "$(id -u)" -ne 0 ]; then
        echo "demo_runs: the second user is skipped: the tests do not run as root, and only root can switch users"
        exit 77
    fi
    id -u "$TEST_USER" >/dev/null 2>&1 \
        || useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin "$TEST_USER" \
        || fail "cannot make the user $TEST_USER"
    chmod -R a+rX "$T/scripts" "$T/build"
    chmod 0755 "$T"
    runuser -u "$TEST_USER" -- test -x "$T/build/tools/zvt/zvt" -a -r "$T/scripts/run.sh" \
        || fail "$TEST_USER cannot reach $T: a folder above it lets no others through"
    local uid user_dir
    uid=$(id -u "$TEST_USER")
    user_dir=$T/tmp/skarvel-demo-$uid

    run_mine || fail "root's run failed"
    expect_passed "formatting the simulated medium"
    expect_private "$MY_DIR" root

    # A folder of that name made by someone else is refused, not used.
    mkdir -m 0755 "$user_dir"
    run_demo runuser -u "$TEST_USER" -- env -u SKARVEL_DEMO_DIR "TMPDIR=$T/tmp" && fail "$TEST_USER used root's folder"
    expect_says "$user_dir is not a folder of user $TEST_USER"
    rmdir "$user_dir"

    mkdir -m 0700 "$T/xdg-root"
    run_demo runuser -u "$TEST_USER" -- env -u SKARVEL_DEMO_DIR "XDG_RUNTIME_DIR=$T/xdg-root" "TMPDIR=$T/tmp" \
        || fail "$TEST_USER's run after root's failed"
    expect_passed "formatting the simulated medium"
    expect_private "$user_dir" "$TEST_USER"
    [ -z "$(ls -A "$T/xdg-root")" ] || fail "$TEST_USER wrote into root's \$XDG_RUNTIME_DIR"
    [ "$(stat -c %U "$MY_DIR/medium.img")" = root ] || fail "root's medium changed hands"
}

case $CASE in
    first-then-again) first_then_again ;;
    damaged) damaged ;;
    stops) stops ;;
    two-users) two_users ;;
    *) fail "unknown case $CASE" ;;
esac
echo "demo_runs: $CASE $KIND passed"
