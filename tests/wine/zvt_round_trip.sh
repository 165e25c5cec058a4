#!/usr/bin/env bash
# zvt.exe under wine against the native zvt-sim: format, put, ls, get, rm,
# with programs holding CR LF, lone CR and LF, Ctrl-Z (0x1A) and NUL bytes,
# a long name and a Cyrillic one; every loaded file must equal its original
# byte for byte, a second get must replace the first, and nothing else may
# be left in the target folder; cat gives the same bytes, and diff judges
# the folder they came from and a changed copy of it. Then the same from cmd, typed as a user
# types it: put with wildcards, which zvt.exe expands itself, and get into
# a quoted folder that ends in a backslash. --short: format and the part
# typed into cmd only.
# Usage: zvt_round_trip.sh WINE_RUN ZVT_EXE ZVT_SIM LINK COMn WORK_DIR [--short]
set -euo pipefail
RUN=$1 ZVT=$2 SIM=$3 LINK=$4 PORT=$5 WORK=$6 SHORT=${7:-}

rm -rf "$WORK"
mkdir -p "$WORK/pc" "$WORK/loaded"
cd "$WORK"

sim_pid=
cleanup() { [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null; wait 2>/dev/null; true; }
trap cleanup EXIT
"$SIM" --image medium.img --link "$LINK" >sim.out 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q '^PTY ' sim.out && break; sleep 0.05; done
grep -q '^PTY ' sim.out || { echo "zvt-sim did not start:"; cat sim.out; exit 1; }

zvt() { "$RUN" "$ZVT" --port "$PORT" "$@"; }
fail() { echo "round trip: $*" >&2; exit 1; }

# Programs as a DOS editor leaves them, and every byte value besides.
printf 'N10 G00 X0 Y0\r\nN20 G01 X10.5 F200\r\n%%\r\n\x1a' >pc/part1.tnc
printf '\x1a\x1a\r\r\n\n\x00\x1a\r\nM30\x1a' >pc/ctrlz.iso
{ printf 'O1000\r\n'; for i in $(seq 0 255); do printf "\\x$(printf %02x "$i")"; done; printf '\r\n%%'; } \
    >"pc/long program name.tnc"
printf 'G90\r\nG00 X1\r\n\x1a\x1a' >pc/деталь.lst

zvt format --yes >format.out
files=(part1.tnc ctrlz.iso "long program name.tnc" деталь.lst)

# cmd passes the line as typed: a batch file holds it, in the code page of
# the console (the lines here are ASCII). Z: is wine's drive for /.
winpath() { printf 'Z:%s' "${1//\//\\}"; }
cmd_line() {
    printf '@echo off\r\ncd /d "%s"\r\n"%s" --port %s %s\r\nexit /b %%errorlevel%%\r\n' \
        "$(winpath "$WORK/pc")" "$(winpath "$ZVT")" "$PORT" "$1" >line.bat
    "$RUN" cmd /c "$(winpath "$WORK/line.bat")"
}
# Each file is put on its own; the name that ls shows next is the one it got.
each_on_its_own() {
    local -A medium
    local f name size now listed= names round
    for f in "${files[@]}"; do
        (cd pc && zvt put "$f")
        now=$(zvt ls)
        name=$(comm -13 <(printf '%s\n' "$listed" | awk 'NF {print $1}' | sort) \
                        <(printf '%s\n' "$now" | awk 'NF {print $1}' | sort))
        [ "$(printf '%s\n' "$name" | grep -c .)" -eq 1 ] || fail "put $f: ls shows '$name' as new"
        size=$(printf '%s\n' "$now" | awk -v n="$name" '$1 == n {print $2}')
        [ "$size" = "$(stat -c %s "pc/$f")" ] || fail "$name: ls shows $size bytes"
        medium[$f]=$name
        listed=$now
    done
    [ "${medium[part1.tnc]}" = PART1.TNC ] || fail "an 8.3 name changed: ${medium[part1.tnc]}"

    # Loaded twice: the second load replaces the first.
    names=()
    for f in "${files[@]}"; do names+=("${medium[$f]}"); done
    for round in 1 2; do zvt get "${names[@]}" -C loaded >>get.out; done
    for f in "${files[@]}"; do
        cmp "pc/$f" "loaded/${medium[$f]}" || fail "${medium[$f]} differs from $f"
    done
    [ "$(find loaded -mindepth 1 | wc -l)" -eq "${#files[@]}" ] || fail "loaded/ holds more than the files: $(ls -A loaded)"

    # cat hands the bytes on as they are (binary, not text mode); diff finds
    # the folder the files came from the same, long name included, and a
    # copy of it with one program changed not.
    # The redirection is cmd's, as a user types it: wine's own handles for
    # a shell's redirection can look like a console, which shows characters.
    for f in "${files[@]}"; do
        cmd_line "cat ${medium[$f]} >\"$(winpath "$WORK/cat.out")\"" >/dev/null
        cmp "pc/$f" cat.out || fail "cat ${medium[$f]} differs from $f"
    done
    zvt diff pc >diff.out || fail "diff of the folder the files came from: $(cat diff.out)"
    cp -r pc changed
    printf 'N30 M30\r\n' >>changed/part1.tnc
    if zvt diff changed >diff.out; then fail "diff of a changed folder found it the same"; fi
    grep -q '^PART1.TNC    отличается' diff.out || fail "diff of a changed folder said: $(cat diff.out)"

    zvt rm "${names[@]}"
    [ -z "$(zvt ls)" ] || fail "files left on the medium after rm"
    echo "round trip: ${#files[@]} files byte for byte: ${names[*]}"
}
[ "$SHORT" = --short ] || each_on_its_own

# part1.tnc, the long name and ctrlz.iso: three files, two of them under
# names that fit 8.3 as they are.
cmd_line 'put *.tnc *.i?o' >/dev/null
mapfile -t now < <(zvt ls | awk 'NF {print $1}')
[ ${#now[@]} -eq 3 ] && printf '%s\n' "${now[@]}" | grep -qx PART1.TNC && printf '%s\n' "${now[@]}" | grep -qx CTRLZ.ISO \
    || fail "put *.tnc *.i?o from cmd put: ${now[*]}"
mkdir "loaded dir"
cmd_line "get PART1.TNC CTRLZ.ISO -C \"$(winpath "$WORK/loaded dir")\\\"" >/dev/null
for f in part1.tnc ctrlz.iso; do
    cmp "pc/$f" "loaded dir/${f^^}" || fail "get -C \"...\\\" from cmd: ${f^^} differs"
done
if cmd_line 'put *.none' 2>nomatch.err; then fail "put *.none from cmd succeeded"; fi
grep -q '^zvt: \*\.none: нет файлов по этому образцу$' nomatch.err || fail "put *.none from cmd said: $(cat nomatch.err)"
zvt rm "${now[@]}"
echo "from cmd: wildcards expanded, folder with a trailing backslash taken"
