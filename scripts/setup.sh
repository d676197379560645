#!/usr/bin/env bash
# Installs what building, running and testing Tessary needs on Debian 12.
# Idempotent: asks apt only for packages that are missing.
set -euo pipefail

PACKAGES=(
  cmake ninja-build g++ make python3
  googletest libbenchmark-dev
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev
  wine wine64
  xvfb xauth x11-apps x11-utils imagemagick fonts-inconsolata
  pulseaudio pulseaudio-utils libpulse-dev
  sox espeak-ng
  libhamlib-utils
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
