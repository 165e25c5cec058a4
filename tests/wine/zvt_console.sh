#!/usr/bin/env bash
# zvt.exe's texts as a user reads them in a cmd window. zvt runs in a real
# wine console whose code page is 866, a Russian system's, and the screen
# is read back from the console (skarvel-console-screen): Cyrillic names
# and messages, ls columns that line up by characters, paths shown with
# backslashes whichever separator was typed, a folder given to put named as
# a folder, a progress bar that leaves nothing behind, and the console's
# code page as it was. An output redirected to a file gets UTF-8 with CR LF.
# Usage: zvt_console.sh WINE_RUN ZVT_EXE CONSOLE_SCREEN_EXE ZVT_SIM LINK COMn WORK_DIR
set -euo pipefail
RUN=$1 ZVT=$2 SCREEN=$3 SIM=$4 LINK=$5 PORT=$6 WORK=$7
export LC_ALL=C.UTF-8

rm -rf "$WORK"
mkdir -p "$WORK/pc/sub" "$WORK/loaded"
cd "$WORK"

sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; true; }
trap cleanup EXIT
"$SIM" --image medium.img --link "$LINK" >sim.out 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^PTY ' sim.out && break; sleep 0.05; done
grep -q '^PTY ' sim.out || { echo "zvt-sim did not start:"; cat sim.out; exit 1; }

fail() { echo "console: $*" >&2; exit 1; }
winpath() { printf 'Z:%s' "${1//\//\\}"; }
zvt() { "$RUN" "$ZVT" --port "$PORT" "$@"; }

# on_console [--stdout FILE] WANTED_EXIT ARGS...: zvt ARGS in the console
# (the arguments joined by blanks, as typed); screen.txt then holds what
# the console shows.
on_console() {
    local redirect=() line
    if [ "$1" = --stdout ]; then
        redirect=(--stdout "$(winpath "$WORK/$2")")
        shift 2
    fi
    local wanted=$1
    shift
    line="\"$(winpath "$ZVT")\" --port $PORT $*"
    "$RUN" --terminal "$SCREEN" "$(winpath "$WORK/screen.txt")" 866 "${redirect[@]}" "$line" \
        || fail "zvt $*: the console could not be read back"
    local code cp
    read -r _ code _ cp <screen.txt.status
    [ "$code" = "$wanted" ] || fail "zvt $*: exit status $code, not $wanted; the screen: $(cat screen.txt)"
    [ "$cp" = 866 ] || fail "zvt $*: the console's code page is $cp afterwards"
}
# The screen, line by line.
shows() {
    diff <([ $# -eq 0 ] || printf '%s\n' "$@") screen.txt >screen.diff || fail "the console shows other lines:
$(cat screen.diff)"
}

# A medium with PART1.TNC and a file that another system named ДЕТАЛЬ.LST
# (wine gives Cyrillic PC names short names of its own): the second entry
# of the root (sector 6) renamed, in code page 1251.
printf 'N10 G00 X0 Y0\r\nN20 G01 X10.5 F200\r\nM30\r\n' >pc/part1.tnc
printf 'G90\r\nG00 X1\r\n' >pc/prog.lst
printf 'N1\r\n' >pc/new.tnc
zvt format --yes >/dev/null
zvt put pc/part1.tnc pc/prog.lst >/dev/null
printf '\xc4\xc5\xd2\xc0\xcb\xdc  LST' | dd of=medium.img bs=1 seek=$((6 * 512 + 32)) conv=notrunc status=none

on_console 0 ls
shows 'PART1.TNC            40' \
      'ДЕТАЛЬ.LST           13'

on_console 0 get ДЕТАЛЬ.LST -C loaded/
shows 'ДЕТАЛЬ.LST -> loaded\ДЕТАЛЬ.LST (13 байт)'
cmp pc/prog.lst loaded/ДЕТАЛЬ.LST || fail "ДЕТАЛЬ.LST came back unlike prog.lst"

on_console 0 put pc/new.tnc
shows 'pc\new.tnc -> NEW.TNC (4 байта)'

on_console 1 get NOSUCH.TNC
shows 'zvt: NOSUCH.TNC: файл не найден'

on_console 1 put pc/sub
shows 'zvt: pc\sub: это папка, а не файл'

on_console 1 put 'pc/*.none'
shows 'zvt: pc\*.none: нет файлов по этому образцу'

on_console 0 --help
head -1 screen.txt | grep -qx 'использование: zvt \[--port ИМЯ\] \[--baud N\] КОМАНДА \[АРГУМЕНТЫ\]' \
    || fail "--help shows: $(cat screen.txt)"

# Redirected, the same lines are UTF-8 bytes with CR LF; nothing of them
# reaches the console.
on_console --stdout ls.out 0 ls
shows
cmp ls.out <(printf 'PART1.TNC            40\r\nДЕТАЛЬ.LST           13\r\nNEW.TNC               4\r\n') \
    || fail "ls into a file wrote: $(od -c ls.out | head)"
echo "console: zvt.exe's texts read back from a code page 866 console; UTF-8 with CR LF into a file"
