#!/usr/bin/env bash
# The window from the keyboard on a real X display (Xvfb with openbox), with
# a US keyboard layout and then with the Russian one active:
#
#   scripts/keys-check.sh [BUILD_DIR] [--shots PREFIX]     (default: build)
#
# Skarvel's window (BUILD_DIR/tests/tools/skarvel-instance-probe: the program
# itself, reporting the menus it opens, its width and whether the text tool
# bar's captions fit) runs on the simulated device. Under the US layout F10,
# Alt+F, Alt+A (the key of Ф), Alt+Z, Alt+N and Alt+G open their menus, and a
# lone Alt highlights "Файл" with the arrows moving on; under the Russian
# layout Alt+Ф, Alt+А (the key of F) and Alt+Я do. Narrowed as far as the
# window manager lets it, the window shows every caption whole. A write's
# progress window and the program's message box have a close button only
# (see close_only), and the progress window's close (Alt+F4 of openbox)
# cancels the write.
# In the open menu J (the key of О) chooses "&Открыть". --shots saves the
# screen (PREFIX-f10.png, -alt-f.png, -open-dialog.png, -alt-ef.png,
# -min-width.png, -progress.png, -box.png) with ImageMagick's import.
# Exit status 0: passed; 1: failed; 77: Xvfb, openbox, xdotool, x11-utils or
# setxkbmap is missing (CTest counts that as skipped).
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
SKARVEL=$BUILD/app/skarvel
SIM=$BUILD/tools/zvt-sim/zvt-sim
ZVT=$BUILD/tools/zvt/zvt

for tool in Xvfb openbox xdotool xprop setxkbmap; do
    command -v "$tool" >/dev/null || { echo "keys-check: $tool is missing, skipped"; exit 77; }
done
for f in "$WINDOW" "$SKARVEL" "$SIM" "$ZVT"; do
    [ -x "$f" ] || { echo "keys-check: $f is missing (build the tests first)" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/skarvel-keys.XXXXXX") || { echo "keys-check: cannot make a scratch folder" >&2; exit 1; }
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null; done
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

fail() {
    echo "keys-check: FAILED: $*" >&2
    for log in "$WORK"/*.log "$WORK"/*.err; do
        [ -f "$log" ] || continue
        echo "--- $(basename "$log")" >&2
        cat "$log" >&2
    done
    exit 1
}

LOG=$WORK/window.log
# Lines of the window's log before the next key: waits look after them.
SEEN=0
mark() { SEEN=$(wc -l <"$LOG"); }
# Waits until the log has a line matching pattern after the mark.
wait_new() {
    local pattern=$1 seconds=${2:-10}
    for _ in $(seq $((seconds * 20))); do
        tail -n +$((SEEN + 1)) "$LOG" | grep -q -- "$pattern" && return 0
        sleep 0.05
    done
    fail "no line '$pattern' in the window's log within $seconds s after: $(tail -n +$((SEEN + 1)) "$LOG" | tr '\n' ';')"
}

shoot() {
    [ -n "$SHOTS" ] || return 0
    sleep 0.5  # the window repainted, for the picture
    import -window root "$SHOTS-$1.png" || fail "import could not save the screen"
}

# Presses keys in the window and waits for a line of its log.
press() {
    local pattern=$1
    shift
    mark
    xdotool windowactivate --sync "$ID" >/dev/null 2>&1
    xdotool key --clearmodifiers "$@" || fail "xdotool could not press $*"
    wait_new "$pattern"
}

# Leaves any open menu and the menu bar.
leave_menus() {
    xdotool key Escape Escape Escape
    sleep 0.3
}

# A window's frame: the program asks (Motif hints) for a title and a close
# button without minimise or maximise, the window manager offers no
# maximise, and the window is transient for its owner. Openbox keeps its
# minimise button on every dialog whatever the hints say, but minimises a
# transient window only together with its owner, so nothing vanishes alone.
close_only() {
    local id=$1 what=$2 hints functions decorations actions
    hints=$(xprop -id "$id" _MOTIF_WM_HINTS 2>/dev/null | sed -n 's/^_MOTIF_WM_HINTS([^)]*) = //p')
    [ -n "$hints" ] || fail "$what: no frame hints"
    IFS=', ' read -r _ functions decorations _ <<<"$hints"
    # Functions: all 0x1, minimise 0x8, maximise 0x10, close 0x20;
    # decorations: all 0x1, minimise 0x20, maximise 0x40.
    if (( functions & 0x19 || !(functions & 0x20) || decorations & 0x61 )); then
        fail "$what: the frame hints ask for more than a close button: $hints"
    fi
    actions=$(xprop -id "$id" _NET_WM_ALLOWED_ACTIONS 2>/dev/null)
    echo "$actions" | grep -q '_NET_WM_ACTION_CLOSE' || fail "$what: no close offered: $actions"
    if echo "$actions" | grep -q '_NET_WM_ACTION_MAXIMIZE'; then
        fail "$what: the window manager offers maximise: $actions"
    fi
    xprop -id "$id" WM_TRANSIENT_FOR 2>/dev/null | grep -q 'window id' || fail "$what: transient for no window"
}

# ---------------------------------------------------------------- the device
"$SIM" --image "$WORK/medium.img" --baud 115200 --link "$WORK/port" >"$WORK/sim.log" 2>&1 &
PIDS+=($!)
for _ in $(seq 200); do grep -q '^PTY ' "$WORK/sim.log" && break; sleep 0.05; done
grep -q '^PTY ' "$WORK/sim.log" || fail "the simulator did not start"
"$ZVT" --port "$WORK/port" format --yes >"$WORK/zvt.log" 2>&1 || fail "the simulated medium could not be formatted"
# A program long enough for the progress window to stay up a while at the
# line's pace.
mkdir "$WORK/pc"
i=10
while [ $i -le 120000 ]; do
    printf 'N%d G1 X%d.5 Y%d.25 F120\n' $i $((i % 97)) $((i % 53))
    i=$((i + 10))
done >"$WORK/pc/LONG.TNC"

# ---------------------------------------------------------------- the display
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.err" &
PIDS+=($!)
for _ in $(seq 200); do [ -s "$WORK/display" ] && break; sleep 0.05; done
[ -s "$WORK/display" ] || fail "Xvfb did not start: $(cat "$WORK/xvfb.err")"
export DISPLAY=:$(cat "$WORK/display")
setxkbmap us || fail "setxkbmap could not set the US layout"
openbox --sm-disable >"$WORK/openbox.err" 2>&1 &
PIDS+=($!)
for _ in $(seq 200); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.05
done
export XDG_RUNTIME_DIR=$WORK/runtime XDG_CONFIG_HOME=$WORK/config
mkdir -m 700 "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME"
export QT_QPA_PLATFORM=xcb

head -c 307200 /dev/zero | tr '\0' 'G' >"$WORK/pc/PART.LST"
# Started in the folder of the programs: the open dialog shows it first.
(cd "$WORK/pc" && exec "$WINDOW" --new-instance --port "$WORK/port" "$WORK/pc/LONG.TNC") >"$LOG" 2>"$WORK/window.err" &
PIDS+=($!)
wait_new '^shown ' 20
ID=$(awk '$1 == "shown" { print $2; exit }' "$LOG")
xdotool windowmove --sync "$ID" 40 40 >/dev/null 2>&1 || true
wait_new '^status Статус: ожидание$' 30

# ---------------------------------------------------------------- US layout
press '^menu Файл$' F10
shoot f10
leave_menus
press '^menu Файл$' alt+f
shoot alt-f
leave_menus
for pair in a:Файл z:ZVT n:Настройка y:Настройка g:Помощь p:Помощь; do
    press "^menu ${pair#*:}\$" "alt+${pair%%:*}"
    leave_menus
done
echo "keys-check: US layout: F10, Alt+F, Alt+A, Alt+Z, Alt+N, Alt+Y, Alt+G, Alt+P open their menus"
press '^bar Файл$' alt
mark
xdotool key Right
wait_new '^bar ZVT$'
mark
xdotool key Down
wait_new '^menu ZVT$'
leave_menus
echo "keys-check: a lone Alt highlights Файл, Right moves to ZVT, Down opens it"
# An item's letter: J, the key of О, chooses "&Открыть" in the open menu.
press '^menu Файл$' F10
xdotool key j
DIALOG=$(timeout 10 xdotool search --sync --onlyvisible --name '^(Open|Открыть)' 2>/dev/null | head -n 1)
[ -n "$DIALOG" ] || fail "J in the menu Файл opened no file dialog"
shoot open-dialog
xdotool key Escape
echo "keys-check: J in the menu Файл chose Открыть"

# ---------------------------------------------------------------- Russian layout active
setxkbmap -layout ru,us || fail "setxkbmap could not set the Russian layout"
press '^menu Файл$' alt+Cyrillic_ef
shoot alt-ef
leave_menus
press '^menu Файл$' alt+Cyrillic_a
leave_menus
press '^menu ZVT$' alt+Cyrillic_ya
leave_menus
press '^menu Помощь$' alt+Cyrillic_pe
leave_menus
setxkbmap us
echo "keys-check: Russian layout: Alt+Ф, Alt+А, Alt+Я, Alt+П open their menus"

# ---------------------------------------------------------------- the narrowest window
xdotool windowsize --sync "$ID" 100 400 >/dev/null 2>&1 || true
sleep 1
read -r WIDTH MINIMUM CAPTIONS < <(awk '$1 == "width" { line = $2 " " $3 " " $4 } END { print line }' "$LOG")
[ "$WIDTH" = "$MINIMUM" ] || fail "the window did not get as narrow as its minimum ($MINIMUM px): $WIDTH px"
[ "$CAPTIONS" = whole ] || fail "at its minimum width ($WIDTH px) a caption of the tool bar is cut"
shoot min-width
echo "keys-check: at its minimum width ($WIDTH px) every caption of the tool bar is whole"
xdotool windowsize --sync "$ID" 640 440 >/dev/null 2>&1 || true

# ---------------------------------------------------------------- the progress window
mark
xdotool windowactivate --sync "$ID" >/dev/null 2>&1
xdotool key F7
PROGRESS=$(timeout 20 xdotool search --sync --onlyvisible --name '^Прогресс$' 2>/dev/null | head -n 1)
[ -n "$PROGRESS" ] || fail "no progress window during the write"
close_only "$PROGRESS" "the progress window"
shoot progress
xdotool windowactivate --sync "$PROGRESS" >/dev/null 2>&1
xdotool key alt+F4
wait_new '^box Ошибка записи файла LONG.TNC: операция прервана пользователем' 20
wait_new '^status Статус: ожидание$' 20
echo "keys-check: the progress window asks for a close button only, and its close cancelled the write"

# ---------------------------------------------------------------- a message box
"$SKARVEL" --new-instance --port "$WORK/no-port" >"$WORK/box.log" 2>&1 &
PIDS+=($!)
BOX=
for _ in $(seq 200); do
    for w in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q _NET_WM_WINDOW_TYPE_DIALOG || continue
        xprop -id "$w" WM_NAME 2>/dev/null | grep -q 'Прогресс' && continue
        BOX=$w
    done
    [ -n "$BOX" ] && break
    sleep 0.05
done
[ -n "$BOX" ] || fail "the program showed no box for a missing port"
close_only "$BOX" "the message box"
shoot box
echo "keys-check: the message box asks for a close button only"
echo "keys-check: passed"
