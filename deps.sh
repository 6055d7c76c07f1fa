#!/usr/bin/env bash
# Installs the Debian packages that are missing from the list given, or, with
# no arguments, those the build needs.
set -euo pipefail
PACKAGES=("$@")
((${#PACKAGES[@]})) || PACKAGES=(cmake ninja-build g++ pkg-config qtbase5-dev libqwt-qt5-dev libmatio-dev zlib1g-dev libtirpc-dev rpcsvc-proto)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  SUDO=; [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
