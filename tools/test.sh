#!/usr/bin/env bash
# Installs what is needed, builds the project twice (plain, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs the whole suite.
# Benchmarks are not built here: they are run by hand (see bench/).
# Display tests run under Xvfb when no display is there; they are skipped only
# when no X server can be started.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/install-deps.sh

jobs=$(nproc)
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
  # Clones in other folders share the cache: paths are hashed relative to the
  # clone, and the working folder (in the debug info) is not hashed.
  export CCACHE_BASEDIR="$PWD"
  export CCACHE_NOHASHDIR="${CCACHE_NOHASHDIR:-1}"
  # The test programs share a precompiled header; these let ccache cache them.
  export CCACHE_SLOPPINESS="${CCACHE_SLOPPINESS:-pch_defines,time_macros,include_file_mtime,include_file_ctime}"
fi

# shellcheck source=tools/lib/xvfb.sh
. tools/lib/xvfb.sh
trap stop_xvfb EXIT
if [ -z "${DISPLAY:-}" ] && command -v Xvfb >/dev/null; then
  start_xvfb 90 110 1280x1024x24 || true
fi
gui_args=()
if [ -z "${DISPLAY:-}" ]; then
  echo "No X display could be started: gui tests are skipped." >&2
  gui_args=(-LE gui)
fi

status=0
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMW_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" "${gui_args[@]}") || status=1

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMW_SANITIZE=ON -DMW_BENCH=OFF "${launcher[@]}" >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs" -L 'unit|integration') || status=1
exit $status
