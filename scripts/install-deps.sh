#!/usr/bin/env bash
# Installs what building, running and testing qvxtool need on Debian 12.
# Uses sudo when not root; skips apt-get entirely when everything is present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache
  qt6-base-dev qt6-serialport-dev qt6-charts-dev libqt6opengl6-dev libgl-dev libjpeg-dev
  fonts-dejavu-core
  python3 python3-pymodbus python3-serial python3-serial-asyncio mbpoll socat
  xvfb xauth
  clang libclang-rt-14-dev
  qt6-base-private-dev
  dpkg-dev desktop-file-utils appstream
  ansible-core ansible-lint
  # The commissioning report tests read the PDF back.
  poppler-utils
  # The Windows build: MinGW-w64, Wine to test it, NSIS for the installer;
  # xwininfo sees the window show.
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64 nsis zip unzip x11-utils
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
