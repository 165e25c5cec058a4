#!/usr/bin/env bash
# The main job: builds Skarvel, starts the simulated ZVT with a demo medium
# and opens the program connected to it. Without a display (no $DISPLAY) it
# shows the command-line client writing, listing and loading files instead.
# Usage: scripts/run.sh [--cli]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

WORK=${SKARVEL_DEMO_DIR:-/tmp/skarvel-demo}
mkdir -p "$WORK"
IMAGE=$WORK/medium.img
LINK=$WORK/zvt-port
SIM=build/tools/zvt-sim/zvt-sim
ZVT=build/tools/zvt/zvt

"$SIM" --image "$IMAGE" --link "$LINK" --baud 115200 >"$WORK/sim.log" 2>&1 &
SIM_PID=$!
trap 'kill $SIM_PID 2>/dev/null; wait $SIM_PID 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$LINK" ] && break; sleep 0.1; done

demo_files() {
    mkdir -p "$WORK/pc"
    printf '%%\nO1001 (SHAFT)\nG21 G90 G40\nT1 M6\nS1200 M3\nG0 X0 Y0\nG1 Z-2 F100\nM30\n%%\n' >"$WORK/pc/shaft.tnc"
    printf '%%\nO1002 (FLANGE)\nG21 G90\nT2 M6\nG81 X10 Y10 Z-5 R2 F80\nG80\nM30\n%%\n' >"$WORK/pc/flange.iso"
    head -c 5000 /dev/urandom | base64 >"$WORK/pc/housing_long_name.lst"
}

if [ ! -s "$IMAGE.ready" ]; then
    demo_files
    echo "--- formatting the simulated medium and writing demo programs"
    "$ZVT" --port "$LINK" format --yes
    "$ZVT" --port "$LINK" put "$WORK/pc/shaft.tnc" "$WORK/pc/flange.iso" "$WORK/pc/housing_long_name.lst"
    echo ok >"$IMAGE.ready"
fi

if [ "${1:-}" = "--cli" ] || [ -z "${DISPLAY:-}" ] || [ ! -x build/app/skarvel ]; then
    echo "--- zvt info"
    "$ZVT" --port "$LINK" info
    echo "--- zvt ls"
    "$ZVT" --port "$LINK" ls
    mkdir -p "$WORK/loaded"
    echo "--- zvt get SHAFT.TNC FLANGE.ISO -C $WORK/loaded"
    "$ZVT" --port "$LINK" get SHAFT.TNC FLANGE.ISO -C "$WORK/loaded"
    cmp "$WORK/pc/shaft.tnc" "$WORK/loaded/SHAFT.TNC" && echo "SHAFT.TNC came back byte for byte"
    exit 0
fi

echo "--- starting Skarvel on $LINK"
build/app/skarvel --port "$LINK"
