#!/usr/bin/env bash
# Installs every Debian package the project needs to build, run and test.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
pkgs=(
  build-essential cmake ninja-build pkg-config ccache clang libclang-rt-dev lld mold
  libboost-iostreams-dev libboost-dev
  libbz2-dev bzip2 libsqlite3-dev sqlite3 libacl1-dev acl libcap-dev libcap2-bin
  libicu-dev libfltk1.3-dev libxcursor-dev libxinerama-dev libxft-dev libxfixes-dev
  libxrender-dev libfontconfig1-dev libpng-dev fonts-dejavu-core fonts-ipafont-gothic
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  xvfb xauth xdotool x11-utils desktop-file-utils attr util-linux policykit-1 locales time
)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
