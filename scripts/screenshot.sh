#!/bin/sh
# Takes docs/screenshot.png: the program on the device simulator with a few
# demo files on its medium, under a virtual X server, writing one more file
# with its progress window up (window frames drawn by openbox when it is
# installed).
#
#   scripts/screenshot.sh [BUILD_DIR]     (default: build)
#
# Builds nothing: BUILD_DIR must hold app/skarvel and tools/zvt-sim/zvt-sim
# (and tools/zvt/zvt to put the demo files on the medium; without it the
# medium stays empty).
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-build}
case $BUILD in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac

SKARVEL=$BUILD/app/skarvel
SIM=$BUILD/tools/zvt-sim/zvt-sim
ZVT=$BUILD/tools/zvt/zvt
OUT=$ROOT/docs/screenshot.png

for f in "$SKARVEL" "$SIM"; do
    [ -x "$f" ] || { echo "screenshot: $f is missing (build it first)" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "screenshot: xvfb-run is missing" >&2; exit 1; }

WORK=$(mktemp -d "${TMPDIR:-/tmp}/skarvel-shot.XXXXXX") || { echo "screenshot: cannot make a scratch folder" >&2; exit 1; }
SIM_PID=
cleanup() {
    if [ -n "$SIM_PID" ]; then kill "$SIM_PID" 2>/dev/null || true; wait "$SIM_PID" 2>/dev/null || true; fi
    rm -rf "$WORK"
}
trap cleanup EXIT INT TERM

# The simulator on a pty, with its medium in the scratch folder, at the
# line's real pace so that the write is caught in the middle.
"$SIM" --image "$WORK/medium.img" --baud 115200 >"$WORK/sim.out" 2>"$WORK/sim.err" &
SIM_PID=$!
PTY=
for _ in $(seq 50); do
    PTY=$(sed -n 's/^PTY //p' "$WORK/sim.out")
    [ -n "$PTY" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$PTY" ] || ! kill -0 "$SIM_PID" 2>/dev/null; then
    echo "screenshot: the simulator did not start: $(cat "$WORK/sim.err")" >&2
    exit 1
fi

# Demo part programs on the medium.
if [ -x "$ZVT" ]; then
    mkdir "$WORK/files"
    printf '%%\nO0001 (SHAFT)\nN10 G21 G90\nN20 G0 X50 Z2\nN30 G1 Z-40 F0.2\nN40 M30\n%%\n' >"$WORK/files/VAL-01.TNC"
    printf '%%\nO0002 (FLANGE)\nN10 G17 G21 G90\nN20 G0 X0 Y0\nN30 G2 X20 Y0 I10 J0 F120\nN40 M30\n%%\n' >"$WORK/files/FLANEC.ISO"
    printf 'BEGIN PGM PLATE MM\nL X+0 Y+0 R0 FMAX\nL X+100 FMAX\nEND PGM PLATE MM\n' >"$WORK/files/PLITA.LST"
    printf '%%\nO0004 (GEARBOX HOUSING)\nN10 G54 G90\nN20 T1 M6\nN30 G81 X10 Y10 Z-5 R2 F80\nN40 M30\n%%\n' \
        >"$WORK/files/корпус редуктора.tnc"
    head -c 6000 /dev/zero | tr '\0' 'G' >"$WORK/files/KONTUR.ISO"
    "$ZVT" --port "$PTY" format --yes >/dev/null || { echo "screenshot: formatting the medium failed" >&2; exit 1; }
    (cd "$WORK/files" && "$ZVT" --port "$PTY" put VAL-01.TNC FLANEC.ISO PLITA.LST KONTUR.ISO "корпус редуктора.tnc" >/dev/null) \
        || { echo "screenshot: writing the demo files onto the medium failed" >&2; exit 1; }
else
    echo "screenshot: $ZVT is missing; the medium stays empty" >&2
fi

# The program that is written while the picture is taken.
mkdir -p "$WORK/pc"
i=10
while [ $i -le 2400 ]; do
    printf 'N%d G1 X%d.5 Y%d.25 F120\n' $i $((i % 97)) $((i % 53))
    i=$((i + 10))
done >"$WORK/pc/VAL-02.TNC"

mkdir -p "$ROOT/docs"
rm -f "$WORK/shot.png"
# The program saves the screen under its window a third of the way into the
# write, then closes (which cancels the write).
cat >"$WORK/session.sh" <<'EOS'
#!/bin/sh
if command -v openbox >/dev/null; then openbox >/dev/null 2>&1 & sleep 1; fi
"$@"
EOS
chmod +x "$WORK/session.sh"
SKARVEL_SCREENSHOT=$WORK/shot.png SKARVEL_SCREENSHOT_WAIT=60000 SKARVEL_SCREENSHOT_WRITE=$WORK/pc/VAL-02.TNC \
    xvfb-run -a -s "-screen 0 800x600x24" "$WORK/session.sh" "$SKARVEL" --new-instance --port "$PTY"
[ -s "$WORK/shot.png" ] || { echo "screenshot: no picture was taken" >&2; exit 1; }
cp "$WORK/shot.png" "$OUT"
echo "screenshot: wrote $OUT"
