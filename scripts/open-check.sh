#!/usr/bin/env bash
# Opening programs from the desktop with a window already open, on a real X
# display: a virtual X server (Xvfb) with a window manager (openbox).
#
#   scripts/open-check.sh [BUILD_DIR] [--shot FILE]     (default: build)
#
# Skarvel's window (BUILD_DIR/tests/tools/skarvel-instance-probe: the program
# itself, reporting its pending rows) runs on zvt-sim, and another program's
# window lies over it. Then, as a file manager does:
#   - `skarvel A.TNC` ends at once with status 0, opens no second window,
#     and A.TNC is a pending row of the running window, which is in front of
#     the other and active;
#   - the other window is brought up again, and `skarvel` without files
#     brings Skarvel's window back to the front, adding nothing.
# --shot saves the screen after the first step (ImageMagick's import).
# Exit status 0: passed; 1: failed; 77: Xvfb, openbox, xdotool or x11-utils
# is missing (CTest counts that as skipped).
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=build
SHOT=
while [ $# -gt 0 ]; do
    case $1 in
        --shot) SHOT=$2; shift 2 ;;
        *) BUILD=$1; shift ;;
    esac
done
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
WINDOW=$BUILD/tests/tools/skarvel-instance-probe
OTHER=$BUILD/tests/tools/skarvel-dnd-peer
SKARVEL=$BUILD/app/skarvel
SIM=$BUILD/tools/zvt-sim/zvt-sim
ZVT=$BUILD/tools/zvt/zvt

for tool in Xvfb openbox xdotool xprop; do
    command -v "$tool" >/dev/null || { echo "open-check: $tool is missing, skipped"; exit 77; }
done
for f in "$WINDOW" "$OTHER" "$SKARVEL" "$SIM" "$ZVT"; do
    [ -x "$f" ] || { echo "open-check: $f is missing (build the tests first)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/skarvel-open.XXXXXX") || { echo "open-check: cannot make a scratch folder" >&2; exit 1; }
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "open-check: FAILED: $*" >&2
    for log in "$WORK"/*.log "$WORK"/*.err; do
        [ -f "$log" ] || continue
        echo "--- $(basename "$log")" >&2
        cat "$log" >&2
    done
    exit 1
}

# Waits until a log has a line matching pattern (20 s at most: every step
# takes a fraction of a second, also on a loaded machine).
wait_line() {
    local log=$1 pattern=$2
    for _ in $(seq 400); do
        grep -q -- "$pattern" "$log" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "no line '$pattern' in $(basename "$log")"
}

# Waits until the root window's property (a window id) is id.
wait_root() {
    local property=$1 id=$2 what=$3
    for _ in $(seq 400); do
        [ "$(root_windows "$property" | tail -1)" = "$id" ] && return 0
        sleep 0.05
    done
    fail "$what (${property}: $(root_windows "$property" | tr '\n' ' '), Skarvel's window: $id)"
}

# The window ids of a root window property, one a line, in decimal.
root_windows() {
    xprop -root "$1" | sed 's/.*#//; s/,/\n/g' | sed -n 's/ *\(0x[0-9a-f]*\).*/\1/p' | while read -r w; do
        printf '%d\n' "$w"
    done
}

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
# The session's own runtime folder: no window of the user's is met.
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb

# ---------------------------------------------------------------- the window
mkdir -p "$WORK/medium" "$WORK/files"
printf 'BEGIN PGM SHAFT MM\r\nEND PGM SHAFT MM\r\n' >"$WORK/medium/SHAFT.TNC"
printf '%%\r\nO0001\r\nG0 X0 Y0\r\nM30\r\n%%\r\n' >"$WORK/medium/FLANGE.ISO"
printf 'BEGIN PGM A MM\nL X+10 Y+0 FMAX\nEND PGM A MM\n' >"$WORK/files/A.TNC"
"$SIM" --image "$WORK/medium.img" --link "$WORK/port" >"$WORK/sim.log" 2>&1 &
SIM_PID=$!
PIDS+=("$SIM_PID")
for _ in $(seq 200); do
    grep -q '^PTY ' "$WORK/sim.log" && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
done
grep -q '^PTY ' "$WORK/sim.log" && kill -0 "$SIM_PID" 2>/dev/null || fail "the simulator did not start"
"$ZVT" --port "$WORK/port" format --yes >"$WORK/zvt.log" 2>&1 &&
    "$ZVT" --port "$WORK/port" put "$WORK/medium/SHAFT.TNC" "$WORK/medium/FLANGE.ISO" >>"$WORK/zvt.log" 2>&1 ||
    fail "the simulated medium could not be prepared"

"$WINDOW" --port "$WORK/port" >"$WORK/window.log" 2>"$WORK/window.err" &
PIDS+=($!)
wait_line "$WORK/window.log" '^shown '
ID=$(awk '$1 == "shown" { print $2; exit }' "$WORK/window.log")
xdotool windowmove --sync "$ID" 40 40 >/dev/null 2>&1 || true

# Another program's window over it, active.
cover() {
    local other
    other=$(xdotool search --sync --onlyvisible --name '^dnd-peer source$' | head -1)
    [ -n "$other" ] || fail "no window of the other program"
    xdotool windowmove --sync "$other" 60 60 windowactivate --sync "$other" >/dev/null 2>&1
    wait_root _NET_ACTIVE_WINDOW "$other" "the other program's window did not become active"
}
"$OTHER" source "$WORK/files/A.TNC" >"$WORK/other.log" 2>"$WORK/other.err" &
PIDS+=($!)
wait_line "$WORK/other.log" '^ready'
cover
WINDOWS=$(root_windows _NET_CLIENT_LIST | sort | tr '\n' ' ')

# ---------------------------------------------------------------- skarvel A.TNC
(cd "$WORK/files" && "$SKARVEL" A.TNC) >"$WORK/skarvel.log" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "skarvel A.TNC ended with status $rc"
wait_line "$WORK/window.log" "^rows $WORK/files/A.TNC\$"
wait_root _NET_ACTIVE_WINDOW "$ID" "Skarvel's window did not become active"
wait_root _NET_CLIENT_LIST_STACKING "$ID" "Skarvel's window is not on top"
[ "$(root_windows _NET_CLIENT_LIST | sort | tr '\n' ' ')" = "$WINDOWS" ] || fail "the windows changed: $(root_windows _NET_CLIENT_LIST | tr '\n' ' ') (before: $WINDOWS)"
grep -q '^box ' "$WORK/window.log" && fail "the window showed a box: $(grep '^box ' "$WORK/window.log")"
sleep 0.5  # the window repainted, for the picture
if [ -n "$SHOT" ]; then
    import -window root "$SHOT" || fail "import could not save the screen"
fi
echo "open-check: skarvel A.TNC added a pending row to the running window and opened no other"

# ---------------------------------------------------------------- skarvel
cover
"$SKARVEL" >"$WORK/skarvel.log" 2>&1 || fail "skarvel without files ended with status $?"
wait_line "$WORK/window.log" '^open 0$'
wait_root _NET_ACTIVE_WINDOW "$ID" "Skarvel's window did not come back to the front"
wait_root _NET_CLIENT_LIST_STACKING "$ID" "Skarvel's window is not on top again"
sleep 0.5  # anything the request would add has arrived by now
[ "$(grep '^rows ' "$WORK/window.log" | tail -1)" = "rows $WORK/files/A.TNC" ] ||
    fail "the pending rows changed: $(grep '^rows ' "$WORK/window.log" | tail -1)"
echo "open-check: skarvel without files brought the window to the front"
echo "open-check: passed"
