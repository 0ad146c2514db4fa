#!/usr/bin/env bash
# Payload extraction against plain bzip2 decoding, on a payload shaped like the
# product's (58 entries, about 23 MB) and on one 20 times larger. Reports, side
# by side: the best wall-clock and CPU times of several runs of
#   bzip2 -dc ARCHIVE > /dev/null
#   mwtool payload extract ARCHIVE --quiet ...   (verify, rewind, extract, CRC-32 read-back)
# their ratio, and the peak resident memory of each (from /usr/bin/time -v).
#
# usage: bench/payload/run.sh [BUILD_DIR] [WORK_DIR]
# Everything goes below WORK_DIR (default: a new folder in /tmp, removed at
# the end); the machine root and home of the extraction point there too.
# REPEAT (default 3) sets how many runs of each command the best is taken from;
# SCALES (default "1 20") which payload sizes are measured.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
mwtool="$build/bin/mwtool"
[ -x "$mwtool" ] || { echo "no $mwtool: build the mwtool target first" >&2; exit 1; }
command -v bzip2 >/dev/null || { echo "bzip2 is missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (package time)" >&2; exit 1; }
if [ -n "${2:-}" ]; then work="$2"; mkdir -p "$work"; keep=1; else work=$(mktemp -d /tmp/mw-payload-bench.XXXXXX); keep=0; fi
cleanup() { [ "$keep" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT
export MW_ROOT="$work/root" HOME="$work/home"
unset SUDO_UID PKEXEC_UID XDG_DATA_HOME
mkdir -p "$MW_ROOT" "$HOME"

# measure PREPARE COMMAND...: runs PREPARE (untimed) and COMMAND $REPEAT times;
# prints "wall cpu maxrss_kb" of the fastest run (peak memory: the largest seen).
measure() {
    local prepare="$1" best_wall="" best_cpu="" rss=0 out
    shift
    for _ in $(seq "${REPEAT:-3}"); do
        "$prepare"
        out=$(/usr/bin/time -v "$@" 2>&1 >/dev/null | tail -n 30) || { echo "failed: $*" >&2; exit 1; }
        local wall cpu r
        wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,a,":"); s=0; for(i=1;i<=n;i++) s=s*60+a[i]; print s}' <<<"$out")
        cpu=$(awk -F': ' '/User time/ {u=$2} /System time/ {s=$2} END {print u+s}' <<<"$out")
        r=$(awk -F': ' '/Maximum resident set size/ {print $2}' <<<"$out")
        [ "$r" -gt "$rss" ] && rss=$r
        if [ -z "$best_wall" ] || awk -v a="$wall" -v b="$best_wall" 'BEGIN{exit !(a<b)}'; then
            best_wall=$wall best_cpu=$cpu
        fi
    done
    echo "$best_wall $best_cpu $rss"
}

results=()
for scale in ${SCALES:-1 20}; do
    src="$work/src$scale" archive="$work/payload$scale.bz2"
    echo "generating the payload (scale $scale)..." >&2
    python3 "$here/generate.py" "$src" --scale "$scale"
    "$mwtool" payload create "$archive" "$src/manifest.tsv" --sort
    rm -rf "$src"
    total=$("$mwtool" payload list "$archive" | awk -F'\t' '$1=="total" {print $2}')
    cat "$archive" >/dev/null  # both start from the page cache

    clean() { rm -rf "$work/install" "$work/temp" "$MW_ROOT/var" "$HOME/.local"; }
    read -r bw bc br < <(measure : bash -c 'exec bzip2 -dc "$0" >/dev/null' "$archive")
    read -r ew ec er < <(measure clean "$mwtool" payload extract "$archive" \
        --install-folder "$work/install" --temp-folder "$work/temp" --quiet)
    results+=("$scale $(stat -c %s "$archive") $total $bw $bc $br $ew $ec $er")
done

echo
printf '%-6s %12s %12s | %8s %8s %9s | %8s %8s %9s | %6s %6s\n' \
    scale compressed decompressed "bz2 wall" "bz2 cpu" "bz2 RSS" "ext wall" "ext cpu" "ext RSS" "wall x" "cpu x"
for row in "${results[@]}"; do
    read -r scale size total bw bc br ew ec er <<<"$row"
    awk -v s="$scale" -v z="$size" -v t="$total" -v bw="$bw" -v bc="$bc" -v br="$br" \
        -v ew="$ew" -v ec="$ec" -v er="$er" 'BEGIN {
        printf "%-6s %12d %12d | %7.2fs %7.2fs %6.1f MB | %7.2fs %7.2fs %6.1f MB | %6.2f %6.2f\n",
            s "x", z, t, bw, bc, br / 1024, ew, ec, er / 1024, ew / bw, ec / bc }'
done
echo "goals: extraction at most 2.1 times bzip2 -dc; peak memory under 16 MB at both scales"
