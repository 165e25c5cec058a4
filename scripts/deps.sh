#!/usr/bin/env bash
# Makes sure the Debian 12 packages Skarvel builds and tests with are present.
# As root it installs what is missing; otherwise it prints the apt-get line.
set -euo pipefail

PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache
    qt6-base-dev qt6-svg-dev qt6-translations-l10n
    libjpeg62-turbo-dev libgtest-dev libssl-dev
    clang libclang-rt-14-dev
    xvfb xauth fonts-dejavu-core
    librsvg2-bin desktop-file-utils man-db dpkg-dev file
    shared-mime-info libxml2-utils libglib2.0-bin
    dosfstools libdtl-dev
    libudev-dev umockdev libumockdev-dev
    g++-mingw-w64-x86-64-posix wine wine64 nsis groff-base bsdutils
    openbox xdotool x11-utils x11-xkb-utils
    util-linux passwd
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
    echo "Missing Debian packages. Install them with:" >&2
    echo "  sudo apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
fi
