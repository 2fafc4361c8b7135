#!/usr/bin/env bash
# Installs what building and running the programs needs on a Debian 12
# machine; with --test also the test toolchain. Quick when everything is
# already there; needs root (or sudo) only to install.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev libgl1-mesa-dev
  libusb-1.0-0-dev
  libcli11-dev nlohmann-json3-dev
)
test_packages=(
  umockdev libumockdev-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  xvfb xauth srecord
  # the manuals (Japanese font), man pages, the desktop files' checks and
  # the Debian package
  fonts-ipafont-gothic poppler-utils help2man
  desktop-file-utils appstream dpkg-dev
)
if [ "${1:-}" = "--test" ]; then
  packages+=("${test_packages[@]}")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -q
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
