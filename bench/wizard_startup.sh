#!/usr/bin/env bash
# Times the installer from its start to its wizard window being mapped (the
# window writes its first UI-dump record once it is exposed), and reads the
# peak memory (VmHWM) of the process while the wizard waits on its first
# page, before Install. Every run uses a fresh scratch MW_ROOT under one
# Xvfb. The baseline, timed in the same run, is the same program started
# headless (MW_HEADLESS=1): the start-up work without any window, so the
# difference is what the wizard's windows cost.
#   bench/wizard_startup.sh [build-folder] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-11}
program="$build/bin/InstallArbolux7.13c"
[ -x "$program" ] || { echo "build $program first" >&2; exit 1; }

# shellcheck source=tools/lib/xvfb.sh
. tools/lib/xvfb.sh
work=$(mktemp -d /tmp/mw-bench.XXXXXX)
cleanup() { stop_xvfb; rm -rf "$work"; }
trap cleanup EXIT
start_xvfb 170 190 1024x768x24 || { echo "no X server could be started" >&2; exit 1; }

now_us() { echo $(( $(date +%s%N) / 1000 )); }
median() { sort -n | awk '{v[NR]=$1} END{print v[int((NR+1)/2)]}'; }

wizard_times=() baseline_times=() peaks=()
for i in $(seq "$runs"); do
  root="$work/root-$i"; mkdir -p "$root/home"
  dump="$work/dump-$i.txt"
  start=$(now_us)
  MW_ROOT="$root" HOME="$root/home" MW_NO_ELEVATION=1 LANG=en_US.UTF-8 MW_UI_DUMP="$dump" \
    "$program" >/dev/null 2>&1 &
  pid=$!
  until grep -q "^window	Wizard" "$dump" 2>/dev/null; do sleep 0.002; done
  end=$(now_us)
  wizard_times+=($(( (end - start) / 1000 )))
  peaks+=($(awk '/^VmHWM/{print $2}' "/proc/$pid/status"))
  kill "$pid"; wait "$pid" 2>/dev/null || true

  root="$work/base-$i"; mkdir -p "$root/home"
  start=$(now_us)
  MW_ROOT="$root" HOME="$root/home" MW_NO_ELEVATION=1 LANG=en_US.UTF-8 MW_HEADLESS=1 \
    "$program" >/dev/null 2>&1
  end=$(now_us)
  baseline_times+=($(( (end - start) / 1000 )))
done

echo "runs: $runs   load average: $(cut -d' ' -f1-3 /proc/loadavg)   cores: $(nproc)"
echo "start to wizard mapped (ms):   median $(printf '%s\n' "${wizard_times[@]}" | median)   all: ${wizard_times[*]}"
echo "baseline, headless start (ms): median $(printf '%s\n' "${baseline_times[@]}" | median)   all: ${baseline_times[*]}"
echo "peak memory before Install (MB): median $(printf '%s\n' "${peaks[@]}" | median | awk '{printf "%.1f", $1/1024}')   max $(printf '%s\n' "${peaks[@]}" | sort -n | tail -1 | awk '{printf "%.1f", $1/1024}')"
