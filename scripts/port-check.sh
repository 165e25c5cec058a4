#!/usr/bin/env bash
# A window started on a port that is not there yet, on a real X display: a
# virtual X server (Xvfb) with a window manager (openbox).
#
#   scripts/port-check.sh [BUILD_DIR] [--shots PREFIX]     (default: build)
#
# Skarvel's window (BUILD_DIR/tests/tools/skarvel-instance-probe: the program
# itself, reporting its lamp, list and status line) starts with --port naming
# a path where nothing is. The message it shows names that port, and the
# status line says the window waits for it. Then zvt-sim starts on that path,
# as an adapter plugged in: with no click, the link lamp turns green and the
# medium's files are listed within the link check's period (10 s while idle).
# --shots saves the screen while the window waits (PREFIX-waiting.png) and
# once the list is there (PREFIX-listed.png), with ImageMagick's import.
# Exit status 0: passed; 1: failed; 77: Xvfb, openbox, xdotool or x11-utils
# is missing (CTest counts that as skipped).
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=build
SHOTS=
while [ $# -gt 0 ]; do
    case $1 in
        --shots) SHOTS=$2; shift 2 ;;
        *) BUILD=$1; shift ;;
    esac
done
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
WINDOW=$BUILD/tests/tools/skarvel-instance-probe
SIM=$BUILD/tools/zvt-sim/zvt-sim
ZVT=$BUILD/tools/zvt/zvt
# The link check asks a missing port again every 10 s while the window is
# idle; the device's first answers and the list take a fraction of a second
# more. The bound leaves room for a loaded machine.
PERIOD=10
LIMIT=$((PERIOD + 5))

for tool in Xvfb openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "port-check: $tool is missing, skipped"; exit 77; }
done
for f in "$WINDOW" "$SIM" "$ZVT"; do
    [ -x "$f" ] || { echo "port-check: $f is missing (build the tests first)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/skarvel-port.XXXXXX") || { echo "port-check: cannot make a scratch folder" >&2; exit 1; }
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "port-check: FAILED: $*" >&2
    for log in "$WORK"/*.log "$WORK"/*.err; do
        [ -f "$log" ] || continue
        echo "--- $(basename "$log")" >&2
        cat "$log" >&2
    done
    exit 1
}

# Waits until a log has a line matching pattern, for seconds at most.
wait_line() {
    local log=$1 pattern=$2 seconds=${3:-20}
    for _ in $(seq $((seconds * 20))); do
        grep -q -- "$pattern" "$log" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "no line '$pattern' in $(basename "$log") within $seconds s"
}

shoot() {
    [ -n "$SHOTS" ] || return 0
    sleep 0.5  # the window repainted, for the picture
    import -window root "$SHOTS-$1.png" || fail "import could not save the screen"
}

# Starts the simulator on the medium image, its line linked from path.
start_sim() {
    local path=$1 log=$2
    "$SIM" --image "$WORK/medium.img" --link "$path" >"$log" 2>&1 &
    SIM_PID=$!
    PIDS+=("$SIM_PID")
    for _ in $(seq 200); do
        grep -q '^PTY ' "$log" && break
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    grep -q '^PTY ' "$log" && kill -0 "$SIM_PID" 2>/dev/null || fail "the simulator did not start"
}

# ---------------------------------------------------------------- the medium
mkdir -p "$WORK/medium"
printf 'BEGIN PGM SHAFT MM\r\nEND PGM SHAFT MM\r\n' >"$WORK/medium/SHAFT.TNC"
printf '%%\r\nO0001\r\nG0 X0 Y0\r\nM30\r\n%%\r\n' >"$WORK/medium/FLANGE.ISO"
start_sim "$WORK/prepare" "$WORK/prepare.log"
"$ZVT" --port "$WORK/prepare" format --yes >"$WORK/zvt.log" 2>&1 &&
    "$ZVT" --port "$WORK/prepare" put "$WORK/medium/SHAFT.TNC" "$WORK/medium/FLANGE.ISO" >>"$WORK/zvt.log" 2>&1 ||
    fail "the simulated medium could not be prepared"
kill "$SIM_PID" && wait "$SIM_PID" 2>/dev/null
rm -f "$WORK/prepare"

# ---------------------------------------------------------------- the display
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.err" &
PIDS+=($!)
for _ in $(seq 200); do [ -s "$WORK/display" ] && break; sleep 0.05; done
[ -s "$WORK/display" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.err")"
export DISPLAY=:$(cat "$WORK/display")
openbox --sm-disable >"$WORK/openbox.err" 2>&1 &
PIDS+=($!)
for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
# The session's own runtime and settings folders: no window and no
# remembered port of the user's is met.
export XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config
mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
export QT_QPA_PLATFORM=xcb

# ---------------------------------------------------------------- waiting for the port
PORT=$WORK/port
"$WINDOW" --port "$PORT" >"$WORK/window.log" 2>"$WORK/window.err" &
PIDS+=($!)
wait_line "$WORK/window.log" '^shown '
ID=$(awk '$1 == "shown" { print $2; exit }' "$WORK/window.log")
xdotool windowmove --sync "$ID" 40 40 >/dev/null 2>&1 || true
# The start's message names the port, over the window.
wait_line "$WORK/window.log" "^box .*Порт $PORT не найден\."
wait_line "$WORK/window.log" "^status Статус: ожидание порта $PORT\$"
wait_line "$WORK/window.log" '^link black 0$'
shoot waiting
echo "port-check: the start named the missing port and the window waits for it"

# ---------------------------------------------------------------- the device appears
start=$(date +%s.%N)
start_sim "$PORT" "$WORK/sim.log"
wait_line "$WORK/window.log" '^link green 2$' "$LIMIT"
took=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { print b - a }')
[ "$(grep -c '^box ' "$WORK/window.log")" = 1 ] || fail "more boxes: $(grep '^box ' "$WORK/window.log")"
wait_line "$WORK/window.log" '^status Статус: ожидание$'
shoot listed
printf 'port-check: the device on %s was found, its files listed %.1f s after it appeared (link check every %d s)\n' \
    "$PORT" "$took" "$PERIOD"
echo "port-check: passed"
