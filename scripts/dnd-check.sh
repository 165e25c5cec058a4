#!/usr/bin/env bash
# Drag and drop between programs on a real X display: a virtual X server
# (Xvfb) with a window manager (openbox), the pointer moved by xdotool.
#
#   scripts/dnd-check.sh [BUILD_DIR]      (default: build)
#
# Checks, with BUILD_DIR/tests/tools/skarvel-dnd-peer standing for a file
# manager and skarvel-dnd-window built on the shell's drag and drop classes:
#   - three files dragged from the other program and dropped on the list,
#     the tool bar or the status line arrive whole and in order;
#   - dragged text is refused and nothing arrives;
#   - files dragged out of the window and dropped on the other program are
#     copied there byte for byte;
#   - Esc during a drag-out cancels it and nothing arrives.
# Then with Skarvel's main window (skarvel-dnd-main) on zvt-sim, its medium
# holding files:
#   - files dropped on its list, tool bar and status line become pending
#     rows with their whole paths, in order;
#   - rows of the medium and a pending row dragged out onto the other
#     program arrive there: the medium's files staged in "TEMP" first, byte
#     for byte as on the medium, the pending one as its PC file.
# Exit status 0: passed; 1: failed; 77: Xvfb, openbox, xdotool or x11-utils
# is missing (CTest counts that as skipped).
set -uo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
PEER=$BUILD/tests/tools/skarvel-dnd-peer
WINDOW=$BUILD/tests/tools/skarvel-dnd-window
MAIN=$BUILD/tests/tools/skarvel-dnd-main
SIM=$BUILD/tools/zvt-sim/zvt-sim
ZVT=$BUILD/tools/zvt/zvt

for tool in Xvfb openbox xdotool xprop xwininfo; do
    command -v "$tool" >/dev/null || { echo "dnd-check: $tool is missing, skipped"; exit 77; }
done
for f in "$PEER" "$WINDOW" "$MAIN" "$SIM" "$ZVT"; do
    [ -x "$f" ] || { echo "dnd-check: $f is missing (build the tests first)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/skarvel-dnd.XXXXXX") || { echo "dnd-check: cannot make a scratch folder" >&2; exit 1; }
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "dnd-check: FAILED: $*" >&2
    for log in "$WORK"/*.log "$WORK"/*.err; do
        echo "--- $(basename "$log")" >&2
        cat "$log" >&2
    done
    exit 1
}

# Waits until a program's log has a line matching pattern (20 s at most:
# every step takes a fraction of a second, also on a loaded machine).
wait_line() {
    local log=$1 pattern=$2
    for _ in $(seq 400); do
        grep -q -- "$pattern" "$log" 2>/dev/null && return 0
        sleep 0.05
    done
    fail "no line '$pattern' in $(basename "$log")"
}

count_lines() { grep -c -- "$2" "$1" 2>/dev/null; }

# Starts a program with its output in WORK/NAME.log.
start() {
    local name=$1; shift
    QT_QPA_PLATFORM=xcb "$@" >"$WORK/$name.log" 2>"$WORK/$name.err" &
    PIDS+=($!)
}

stop_last() {
    local pid=${PIDS[-1]}
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    unset 'PIDS[-1]'
}

# Puts the window titled title at (x, y) and prints its client area's
# position on the screen as "X Y" (xwininfo's, which is exact under a
# reparenting window manager; xdotool's geometry adds the frame twice).
place() {
    local title=$1 x=$2 y=$3 id
    id=$(xdotool search --sync --onlyvisible --name "^$title\$" | head -1)
    [ -n "$id" ] || fail "no window $title"
    xdotool windowmove --sync "$id" "$x" "$y" >/dev/null 2>&1 || true
    xwininfo -id "$id" | awk '/Absolute upper-left X/ { x = $NF } /Absolute upper-left Y/ { y = $NF } END { print x, y }'
}

# Presses the left button at (x1, y1) and moves in steps to (x2, y2); the
# button stays down.
press_and_move() {
    local x1=$1 y1=$2 x2=$3 y2=$4 i
    xdotool mousemove "$x1" "$y1"
    sleep 0.2
    xdotool mousedown 1
    sleep 0.2
    for i in $(seq 1 20); do
        xdotool mousemove $((x1 + (x2 - x1) * i / 20)) $((y1 + (y2 - y1) * i / 20))
        sleep 0.05
    done
}

# Nudges the pointer by one pixel and back: the drop target answers again.
nudge() {
    xdotool mousemove_relative 1 0
    sleep 0.05
    xdotool mousemove_relative -- -1 0
    sleep 0.05
}

# Reads "area NAME X Y" of a window log.
area() { awk -v n="$2" '$1 == "area" && $2 == n { print $3, $4 }' "$1"; }

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

# ---------------------------------------------------------------- the files
mkdir -p "$WORK/src" "$WORK/into"
head -c 3000 /dev/urandom >"$WORK/src/VAL-01.TNC"
for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done >"$WORK/src/корпус редуктора.tnc"
printf 'BEGIN PGM PLATE MM\r\nEND PGM PLATE MM\r\n' >"$WORK/src/PLITA.LST"
FILES=("$WORK/src/VAL-01.TNC" "$WORK/src/корпус редуктора.tnc" "$WORK/src/PLITA.LST")

# ---------------------------------------------------------------- into the window
start window "$WINDOW" accept
wait_line "$WORK/window.log" '^area status'
read -r WX WY <<<"$(place dnd-window 420 60)"
start peer "$PEER" source "${FILES[@]}"
wait_line "$WORK/peer.log" '^ready'
read -r PX PY <<<"$(place 'dnd-peer source' 40 60)"

drops=0
for target in list toolbar status; do
    read -r AX AY <<<"$(area "$WORK/window.log" "$target")"
    actions=$(count_lines "$WORK/peer.log" '^action copy')
    press_and_move $((PX + 150)) $((PY + 110)) $((WX + AX)) $((WY + AY))
    for _ in $(seq 100); do
        [ "$(count_lines "$WORK/peer.log" '^action copy')" -gt "$actions" ] && break
        nudge
    done
    xdotool mouseup 1
    drops=$((drops + 1))
    wait_line "$WORK/peer.log" "^end copy"
    for _ in $(seq 400); do
        [ "$(count_lines "$WORK/window.log" '^dropped')" -ge "$drops" ] && break
        sleep 0.05
    done
    got=$(awk -v n="$drops" '/^dropped/ { k++ } /^drop / && k == n - 1 { print substr($0, 6) }' "$WORK/window.log")
    want=$(printf '%s\n' "${FILES[@]}")
    [ "$got" = "$want" ] || fail "drop on the $target: got [$got], want [$want]"
    echo "dnd-check: three files dropped on the $target arrived in order"
done
stop_last

start text "$PEER" source --text "G0 X0 Y0"
wait_line "$WORK/text.log" '^ready'
read -r PX PY <<<"$(place 'dnd-peer source' 40 60)"
enters=$(count_lines "$WORK/window.log" '^drag enter')
read -r AX AY <<<"$(area "$WORK/window.log" list)"
press_and_move $((PX + 150)) $((PY + 110)) $((WX + AX)) $((WY + AY))
for _ in $(seq 100); do
    [ "$(count_lines "$WORK/window.log" '^drag enter')" -gt "$enters" ] && break
    nudge
done
[ "$(count_lines "$WORK/window.log" '^drag enter')" -gt "$enters" ] || fail "the text drag never reached the window"
nudge
xdotool mouseup 1
wait_line "$WORK/text.log" '^end '
grep -q '^end ignore' "$WORK/text.log" || fail "dragged text was taken"
[ "$(count_lines "$WORK/window.log" '^dropped')" -eq "$drops" ] || fail "dragged text arrived"
echo "dnd-check: dragged text refused"
stop_last
stop_last  # the window

# ---------------------------------------------------------------- out of the window
start target "$PEER" target "$WORK/into"
wait_line "$WORK/target.log" '^ready'
read -r TX TY <<<"$(place 'dnd-peer target' 420 60)"
start offer "$WINDOW" offer "${FILES[@]}"
wait_line "$WORK/offer.log" '^area status'
read -r WX WY <<<"$(place dnd-window 40 60)"
read -r AX AY <<<"$(area "$WORK/offer.log" list)"

# Drags from the list onto the other program until it takes the files.
drag_out() {
    local feedback
    feedback=$(count_lines "$WORK/offer.log" '^feedback copy')
    press_and_move $((WX + AX)) $((WY + AY)) $((TX + 150)) $((TY + 110))
    for _ in $(seq 100); do
        [ "$(count_lines "$WORK/offer.log" '^feedback copy')" -gt "$feedback" ] && return
        nudge
    done
    fail "the other program never took the files"
}

drag_out
xdotool mouseup 1
wait_line "$WORK/offer.log" '^end copy'
wait_line "$WORK/target.log" '^dropped 3'
for f in "${FILES[@]}"; do
    cmp -s "$f" "$WORK/into/$(basename "$f")" || fail "$(basename "$f") arrived changed or not at all"
done
# The other program read the list from the data object, which Qt then freed.
wait_line "$WORK/offer.log" '^rendered 0'
wait_line "$WORK/offer.log" '^released'
echo "dnd-check: three files dragged out arrived byte for byte"

drag_out
xdotool key Escape
for _ in $(seq 400); do
    [ "$(count_lines "$WORK/offer.log" '^end ')" -ge 2 ] && break
    sleep 0.05
done
xdotool mouseup 1
[ "$(grep '^end ' "$WORK/offer.log" | tail -1)" = "end ignore" ] || fail "Esc did not cancel the drag-out"
[ "$(count_lines "$WORK/target.log" '^dropped')" -eq 1 ] || fail "a cancelled drag-out delivered files"
echo "dnd-check: Esc cancelled the drag-out"
stop_last  # the window
stop_last  # the other program

# ---------------------------------------------------------------- Skarvel's window
# The last "rows" report of the main window: "NAME KIND X Y" a line, and the
# paths of its pending rows.
last_rows() { awk '/^rows / { n = 0; delete r } /^row / { r[++n] = $2 " " $3 " " $4 " " $5 } END { for (i = 1; i <= n; i++) print r[i] }' "$1"; }
last_paths() { awk '/^rows / { n = 0; delete p } /^path / { p[++n] = substr($0, 6) } END { for (i = 1; i <= n; i++) print p[i] }' "$1"; }
row_at() { last_rows "$WORK/main.log" | awk -v n="$1" '$1 == n { print $3, $4 }'; }
# Waits until the last rows report holds n rows.
wait_rows() {
    for _ in $(seq 400); do
        [ "$(last_rows "$WORK/main.log" | wc -l)" -eq "$1" ] && return 0
        sleep 0.05
    done
    fail "the window never listed $1 rows"
}

mkdir -p "$WORK/medium" "$WORK/stage" "$WORK/out" "$WORK/more"
head -c 5000 /dev/urandom >"$WORK/medium/SHAFT.TNC"
for i in $(seq 255 -1 0); do printf "\\$(printf %03o "$i")"; done >"$WORK/medium/FLANGE.ISO"
printf 'TOOL CALL 1 Z S2000\r\n' >"$WORK/more/TOOL.LST"
printf 'L X+0 Y+0 R0 FMAX\r\n' >"$WORK/more/STATUS.LST"
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

TEMP=$WORK/stage start main "$MAIN" --port "$WORK/port"
wait_line "$WORK/main.log" '^row FLANGE.ISO medium'
read -r WX WY <<<"$(place Skarvel 20 20)"

# Files from the other program: on the list, then the tool bar, then the
# status line.
drop_on() {
    local target=$1 rows=$2; shift 2
    start source "$PEER" source "$@"
    wait_line "$WORK/source.log" '^ready'
    read -r PX PY <<<"$(place 'dnd-peer source' 640 60)"
    read -r AX AY <<<"$(area "$WORK/main.log" "$target")"
    press_and_move $((PX + 150)) $((PY + 110)) $((WX + AX)) $((WY + AY))
    for _ in $(seq 100); do
        grep -q '^action copy' "$WORK/source.log" && break
        nudge
    done
    xdotool mouseup 1
    wait_line "$WORK/source.log" '^end copy'
    wait_rows "$rows"
    stop_last
}
drop_on list 5 "${FILES[@]}"
drop_on toolbar 6 "$WORK/more/TOOL.LST"
drop_on status 7 "$WORK/more/STATUS.LST"
got=$(last_paths "$WORK/main.log")
want=$(printf '%s\n' "${FILES[@]}" "$WORK/more/TOOL.LST" "$WORK/more/STATUS.LST")
[ "$got" = "$want" ] || fail "pending rows: got [$got], want [$want]"
[ "$(last_rows "$WORK/main.log" | awk '$2 == "pending"' | wc -l)" -eq 5 ] || fail "the dropped files are not pending rows"
grep -q '^box ' "$WORK/main.log" && fail "a message box came up"
echo "dnd-check: files dropped on Skarvel's list, tool bar and status line became pending rows in order"

# Two rows of the medium and a pending one, out onto the other program.
start target "$PEER" target "$WORK/out"
wait_line "$WORK/target.log" '^ready'
read -r TX TY <<<"$(place 'dnd-peer target' 640 60)"
read -r X1 Y1 <<<"$(row_at SHAFT.TNC)"
read -r X2 Y2 <<<"$(row_at FLANGE.ISO)"
read -r X3 Y3 <<<"$(row_at PLITA.LST)"
xdotool mousemove $((WX + X1)) $((WY + Y1)) click 1
sleep 0.2
xdotool keydown ctrl mousemove $((WX + X2)) $((WY + Y2)) click 1 mousemove $((WX + X3)) $((WY + Y3)) click 1 keyup ctrl
sleep 0.2
# The press on a selected row keeps the selection; the move starts the
# staging load (its progress window) and then the drag.
press_and_move $((WX + X1)) $((WY + Y1)) $((TX + 150)) $((TY + 110))
for _ in $(seq 100); do
    grep -q '^enter' "$WORK/target.log" && break
    nudge
done
grep -q '^enter' "$WORK/target.log" || fail "the drag out of Skarvel never reached the other program"
nudge
xdotool mouseup 1
wait_line "$WORK/target.log" '^dropped 3'
grep -q '^progress' "$WORK/main.log" || fail "the staging showed no progress window"
for f in SHAFT.TNC FLANGE.ISO; do
    cmp -s "$WORK/medium/$f" "$WORK/out/$f" || fail "$f arrived changed or not at all"
    cmp -s "$WORK/medium/$f" "$WORK/stage/$f" || fail "$f is not staged"
done
cmp -s "$WORK/src/PLITA.LST" "$WORK/out/PLITA.LST" || fail "the pending PLITA.LST arrived changed or not at all"
grep -q '^box ' "$WORK/main.log" && fail "a message box came up"
echo "dnd-check: rows dragged out of Skarvel arrived byte for byte (the medium's staged first)"
echo "dnd-check: passed"
