#!/usr/bin/env bash
# The main job: builds Skarvel, starts the simulated ZVT with a demo medium
# and opens the program connected to it. Without a display (no $DISPLAY) it
# shows the command-line client writing, listing and loading files instead.
#
#   scripts/run.sh [--cli] [--unpaced] [--build-dir DIR]
#
#   --cli            the command-line client's demo, also with a display
#   --unpaced        the simulator answers at once instead of at the pace of
#                    a real line at 115200 baud
#   --build-dir DIR  use the programs already built in DIR; build nothing
#
# The demo lives in a folder of the user's own: $SKARVEL_DEMO_DIR when set,
# else $XDG_RUNTIME_DIR/skarvel-demo, else skarvel-demo-UID in the
# temporary directory ($TMPDIR or /tmp), made with mode 0700. Its medium is
# kept for the next run; one that is damaged or was made by an older demo is
# made anew.
set -euo pipefail

say() { echo "run.sh: $*" >&2; }
die() { say "$*"; exit 1; }

# What the demo puts on its medium. Raise DEMO_VERSION when that changes:
# a medium stamped with another version is made anew.
DEMO_VERSION="skarvel-demo 2"
MEDIUM_BYTES=2097152
# The demo's programs on the PC and the names they get on the medium.
PC_NAMES=(shaft.tnc flange.iso housing_long_name.lst)
MEDIUM_NAMES=(SHAFT.TNC FLANGE.ISO 'HOUSIN~1.LST')

CLI=
PACE=(--baud 115200)
BUILD=
while [ $# -gt 0 ]; do
    case $1 in
        --cli) CLI=1 ;;
        --unpaced) PACE=() ;;
        --build-dir)
            [ $# -ge 2 ] || die "--build-dir needs a folder"
            BUILD=$2
            shift ;;
        *) die "unknown argument '$1' (usage: scripts/run.sh [--cli] [--unpaced] [--build-dir DIR])" ;;
    esac
    shift
done

cd "$(dirname "$0")/.."
if [ -z "$BUILD" ]; then
    BUILD=build
    scripts/deps.sh || die "the Debian packages Skarvel needs are missing (scripts/deps.sh above says which)"
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null \
        || die "configuring the build in $PWD/build failed"
    cmake --build build -j "$(nproc)" || die "building Skarvel in $PWD/build failed"
fi
case $BUILD in /*) ;; *) BUILD=$PWD/$BUILD ;; esac
SIM=$BUILD/tools/zvt-sim/zvt-sim
ZVT=$BUILD/tools/zvt/zvt
APP=$BUILD/app/skarvel
for f in "$SIM" "$ZVT"; do
    [ -x "$f" ] || die "$f is missing (build Skarvel first)"
done

# ---------------------------------------------------------------- the folder
# $XDG_RUNTIME_DIR counts only when it is this user's: su and runuser pass on
# the caller's.
if [ -n "${SKARVEL_DEMO_DIR:-}" ]; then
    WORK=$SKARVEL_DEMO_DIR
    err=$(mkdir -p -- "$WORK" 2>&1) || die "cannot make the demo folder (SKARVEL_DEMO_DIR): $err"
    [ -d "$WORK" ] && [ -w "$WORK" ] && [ -x "$WORK" ] \
        || die "the demo folder $WORK (SKARVEL_DEMO_DIR) is not a folder this user can write into"
else
    if [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ] && [ -O "$XDG_RUNTIME_DIR" ]; then
        WORK=$XDG_RUNTIME_DIR/skarvel-demo
    else
        WORK=${TMPDIR:-/tmp}/skarvel-demo-$(id -u)
    fi
    if [ ! -e "$WORK" ] && [ ! -L "$WORK" ]; then
        err=$(mkdir -m 0700 -- "$WORK" 2>&1) || die "cannot make the demo folder: $err"
    fi
    # Another user's folder (or a link) in a shared temporary directory is
    # never used: whoever owns it could read or swap the demo's files.
    [ -d "$WORK" ] && [ ! -L "$WORK" ] && [ -O "$WORK" ] \
        || die "$WORK is not a folder of user $(id -un); remove it or set SKARVEL_DEMO_DIR to a folder of your own"
    chmod 0700 "$WORK" || die "cannot make the demo folder $WORK private (chmod 0700)"
fi
echo "--- the demo folder: $WORK"
# One demo at a time in a folder: a second would judge the medium the first
# is still making.
exec 9>"$WORK/run.lock" || die "cannot write into the demo folder $WORK"
flock -n 9 || die "another scripts/run.sh is using $WORK; end it first"

IMAGE=$WORK/medium.img
STAMP=$WORK/medium.version
LINK=$WORK/zvt-port
LOG=$WORK/sim.log

# Runs one step of the demo; when it fails, says which one and where the
# simulator's log is.
step() {
    local what=$1
    shift
    "$@" || die "$what failed (exit code $?); the simulator's log: $LOG"
}

# ---------------------------------------------------------------- the medium
# What the image file says before the simulator opens it; empty when it can
# be used again.
judge_image() {
    local size
    if [ ! -e "$IMAGE" ]; then
        if [ -e "$STAMP" ]; then echo "the demo medium's image $IMAGE is missing"; else echo "new"; fi
        return
    fi
    if [ ! -f "$IMAGE" ]; then echo "$IMAGE is not a file"; return; fi
    if [ ! -e "$STAMP" ]; then
        if [ -e "$IMAGE.ready" ]; then
            echo "the demo medium was made by an older demo"
        else
            echo "the demo medium was never finished (an earlier run stopped while making it)"
        fi
        return
    fi
    if [ "$(cat "$STAMP")" != "$DEMO_VERSION" ]; then
        echo "the demo medium was made by another demo version ($(head -c 40 "$STAMP" | head -1), this is $DEMO_VERSION)"
        return
    fi
    size=$(stat -c %s "$IMAGE")
    if [ "$size" -ne "$MEDIUM_BYTES" ]; then
        echo "the demo medium's image holds $size bytes instead of $MEDIUM_BYTES"
        return
    fi
    for f in "${PC_NAMES[@]}"; do
        [ -f "$WORK/pc/$f" ] || { echo "the demo's PC copy $WORK/pc/$f is missing"; return; }
    done
}

REASON=$(judge_image)
if [ -n "$REASON" ]; then
    [ "$REASON" = new ] || echo "--- $REASON: making it anew"
    rm -f -- "$IMAGE" "$STAMP" "$IMAGE.ready" || die "cannot remove the old demo medium $IMAGE"
fi

# ---------------------------------------------------------------- the device
"$SIM" --image "$IMAGE" --link "$LINK" ${PACE[@]+"${PACE[@]}"} >"$LOG" 2>&1 9>&- &
SIM_PID=$!
trap 'kill $SIM_PID 2>/dev/null; wait $SIM_PID 2>/dev/null || true' EXIT

# The simulator prints "PTY <path>" once its link is in place, or a message
# and ends.
PTY=
for _ in $(seq 100); do
    PTY=$(sed -n 's/^PTY //p' "$LOG")
    [ -n "$PTY" ] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.1
done
if ! kill -0 "$SIM_PID" 2>/dev/null; then
    message=$(grep -v '^PTY ' "$LOG" | head -5)
    die "the simulator did not start: ${message:-it ended without a message}; its log: $LOG"
fi
[ -n "$PTY" ] || die "the simulator reported no port within 10 s; its log: $LOG"
[ "$(readlink -- "$LINK")" = "$PTY" ] || die "$LINK does not lead to the simulator's port $PTY; its log: $LOG"

# The medium's volume: a clean one is used again, any other is formatted.
if [ -z "$REASON" ]; then
    if ! check=$("$ZVT" --port "$LINK" check 2>&1); then
        kill -0 "$SIM_PID" 2>/dev/null || die "the simulator ended during the check; its log: $LOG"
        REASON="the demo medium does not pass zvt check ($(echo "$check" | tr '\n' ' ' | sed 's/ *$//'))"
        echo "--- $REASON: making it anew"
    fi
fi

demo_files() {
    mkdir -p "$WORK/pc" || die "cannot make $WORK/pc"
    printf '%%\nO1001 (SHAFT)\nG21 G90 G40\nT1 M6\nS1200 M3\nG0 X0 Y0\nG1 Z-2 F100\nM30\n%%\n' >"$WORK/pc/shaft.tnc"
    printf '%%\nO1002 (FLANGE)\nG21 G90\nT2 M6\nG81 X10 Y10 Z-5 R2 F80\nG80\nM30\n%%\n' >"$WORK/pc/flange.iso"
    head -c 5000 /dev/urandom | base64 >"$WORK/pc/housing_long_name.lst"
}

if [ -n "$REASON" ]; then
    rm -f -- "$STAMP"
    demo_files
    echo "--- formatting the simulated medium and writing demo programs"
    step "formatting the demo medium" "$ZVT" --port "$LINK" format --yes
    step "writing the demo programs" "$ZVT" --port "$LINK" put "${PC_NAMES[@]/#/$WORK/pc/}"
    echo "$DEMO_VERSION" >"$STAMP" || die "cannot write $STAMP"
else
    echo "--- using the demo medium of an earlier run ($IMAGE)"
    # Programs deleted from the medium in an earlier run are written again.
    listing=$("$ZVT" --port "$LINK" ls) || die "listing the demo medium failed; the simulator's log: $LOG"
    missing=()
    for i in "${!MEDIUM_NAMES[@]}"; do
        awk -v n="${MEDIUM_NAMES[$i]}" '$1 == n { found = 1 } END { exit !found }' <<<"$listing" || missing+=("$WORK/pc/${PC_NAMES[$i]}")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "--- writing the demo programs missing on the medium again"
        step "writing the demo programs again" "$ZVT" --port "$LINK" put "${missing[@]}"
    fi
fi

# ---------------------------------------------------------------- the demo
if [ -n "$CLI" ] || [ -z "${DISPLAY:-}" ] || [ ! -x "$APP" ]; then
    echo "--- zvt info"
    step "zvt info" "$ZVT" --port "$LINK" info
    echo "--- zvt ls"
    step "zvt ls" "$ZVT" --port "$LINK" ls
    mkdir -p "$WORK/loaded" || die "cannot make $WORK/loaded"
    rm -f -- "$WORK/loaded/SHAFT.TNC" "$WORK/loaded/FLANGE.ISO"
    echo "--- zvt get SHAFT.TNC FLANGE.ISO -C $WORK/loaded"
    step "loading SHAFT.TNC and FLANGE.ISO" "$ZVT" --port "$LINK" get SHAFT.TNC FLANGE.ISO -C "$WORK/loaded"
    for i in 0 1; do
        cmp -s "$WORK/pc/${PC_NAMES[$i]}" "$WORK/loaded/${MEDIUM_NAMES[$i]}" \
            || die "${MEDIUM_NAMES[$i]} came back unlike $WORK/pc/${PC_NAMES[$i]} (changed on the medium since?); remove $WORK to start afresh"
    done
    echo "SHAFT.TNC and FLANGE.ISO came back byte for byte"
    exit 0
fi

echo "--- starting Skarvel on $LINK"
# A window of its own on the simulator's port, also when the user has one
# open on a real port (a plain start would only bring that one up).
"$APP" --new-instance --port "$LINK" || die "Skarvel ended with exit code $?"
