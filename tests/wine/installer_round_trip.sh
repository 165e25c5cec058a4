#!/usr/bin/env bash
# The Windows installer under wine: cpack builds it from this build, it
# installs silently into Program Files, zvt.exe --help and the round trip
# typed into cmd (zvt_round_trip.sh --short) run from the installed folder, and the uninstaller
# takes it all away again: nothing of it may stay in the file system, and
# its registry keys go too.
# Usage: installer_round_trip.sh WINE_RUN CPACK BUILD_DIR WINEPREFIX ZVT_SIM LINK COMn WORK_DIR
set -euo pipefail
RUN=$1 CPACK=$2 BUILD=$3 PREFIX=$4 SIM=$5 LINK=$6 PORT=$7 WORK=$8
HERE=$(cd "$(dirname "$0")" && pwd)

fail() { echo "installer: $*" >&2; exit 1; }
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\skarvel-zvt'
VENDOR_KEY='HKLM\Software\Skarvel'
WIN_DIR='C:\Program Files\Skarvel'
DIR="$PREFIX/drive_c/Program Files/Skarvel"
# Everything of the installation in wine's C: drive: the folder and the
# Start menu entries. The temporary folder is left out: the other tests
# keep their scratch folders (skarvel-test-*) there while this one runs.
# So is the user's own data (the transfer journal under AppData\Local),
# which an uninstaller keeps, and which the other tests write too.
traces() {
    find "$PREFIX/drive_c" -iname '*skarvel*' -not -ipath '*/temp/*' -not -ipath '*/AppData/Local/Skarvel*' 2>/dev/null
}
has_key() { "$RUN" reg query "$1" >/dev/null 2>&1; }

rm -rf "$WORK"
mkdir -p "$WORK"
(cd "$BUILD" && "$CPACK" -G NSIS -B "$WORK/package") >"$WORK/cpack.log" 2>&1 \
    || { cat "$WORK/cpack.log"; fail "cpack -G NSIS failed"; }
installers=("$WORK"/package/skarvel-zvt-*-win64.exe)
[ ${#installers[@]} -eq 1 ] && [ -f "${installers[0]}" ] || fail "no single skarvel-zvt-*-win64.exe: ${installers[*]}"

# A run that failed half-way may have left an installation behind.
if [ -n "$(traces)" ]; then
    "$RUN" reg delete "$UNINSTALL_KEY" /f >/dev/null 2>&1 || true
    "$RUN" reg delete "$VENDOR_KEY" /f >/dev/null 2>&1 || true
    traces | sort -r | while read -r t; do rm -rf "$t"; done
fi

"$RUN" "${installers[0]}" /S || fail "the silent install failed"
for f in bin/zvt.exe zvt.txt Uninstall.exe; do [ -f "$DIR/$f" ] || fail "not installed: $f"; done
find "$PREFIX/drive_c" -ipath '*Start Menu*' -iname 'Skarvel' -type d | grep -q . || fail "no Start menu folder"
has_key "$UNINSTALL_KEY" || fail "no uninstall entry in the registry"
grep -q 'zvt - command-line client' "$DIR/zvt.txt" || fail "zvt.txt does not hold the manual"

"$RUN" "$WIN_DIR\\bin\\zvt.exe" --help >"$WORK/help.out" || fail "zvt.exe --help failed"
grep -q -- '--port' "$WORK/help.out" || fail "zvt.exe --help printed: $(cat "$WORK/help.out")"
bash "$HERE/zvt_round_trip.sh" "$RUN" "$DIR/bin/zvt.exe" "$SIM" "$LINK" "$PORT" "$WORK/round-trip" --short

# The uninstaller copies itself to the temporary folder and runs from
# there, so that it can remove its own file: the first process returns at
# once. Its last steps remove the folder and the Start menu entries.
"$RUN" "$WIN_DIR\\Uninstall.exe" /S || fail "the uninstaller did not start"
for _ in $(seq 300); do
    [ -z "$(traces)" ] && break
    sleep 0.1
done
[ -z "$(traces)" ] || fail "left after uninstalling: $(traces)"
! has_key "$UNINSTALL_KEY" || fail "the uninstall entry stays in the registry"
! has_key "$VENDOR_KEY" || fail "$VENDOR_KEY stays in the registry"
echo "installer: ${installers[0]##*/} installed, used and removed without a trace"
