#!/usr/bin/env bash
# Installs what is needed, builds, and runs the installer with the built-in
# demo product. Machine-wide folders and the registry store go below a
# scratch MW_ROOT unless MW_ROOT is already set.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target InstallArbolux7.13c
# The scratch machine root is never the real "/": that takes MW_ROOT=/ given
# on purpose. The elevated installer uses a machine root only when no user
# but root could change it, so a user who is not root gets one made by root.
if [ -z "${MW_ROOT:-}" ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  MW_ROOT="$($SUDO mktemp -d /tmp/mw-root.XXXXXX)"
  $SUDO chmod 0755 "$MW_ROOT"
fi
export MW_ROOT
echo "MW_ROOT=$MW_ROOT"
if [ -z "${DISPLAY:-}" ]; then
  echo "No display: starting the installer under xvfb-run." >&2
  exec xvfb-run -a build/bin/InstallArbolux7.13c
fi
exec build/bin/InstallArbolux7.13c
