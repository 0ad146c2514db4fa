#!/usr/bin/env bash
# Payload extraction against plain bzip2 decoding, on a payload shaped like the
# product's (58 entries, about 23 MB) and on one 20 times larger. Reports, side
# by side in one run: the median wall-clock and CPU times of several runs of
#   bzip2 -dc ARCHIVE > FILE                     (FILE beside the extracted files)
#   mwtool payload verify ARCHIVE                (the check before anything is written)
#   mwtool payload extract ARCHIVE --quiet ...   (verify, rewind, extract, CRC-32 read-back)
# for every worker count of the check (MW_VERIFY_THREADS), their ratios to
# bzip2 -dc, the peak resident memory of each (from /usr/bin/time -v), and the
# check with 2 workers held to one core (taskset), which shows its overhead.
# The machine's load average is printed before and after: figures taken on a
# busy machine say little.
#
# usage: bench/payload/run.sh [BUILD_DIR] [WORK_DIR]
# Everything goes below WORK_DIR (default: a new folder in /tmp, removed at
# the end); the machine root and home of the extraction point there too.
# REPEAT (default 3) sets how many runs of each command the median is taken from;
# SCALES (default "1 20") which payload sizes are measured; WORKERS (default
# "1 2", and every core count up to the machine's) the worker counts.
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

# shellcheck source=../lib/measure.sh
. "$here/../lib/measure.sh"

cores=$(nproc)
workers_default="1 2"
for ((n = 4; n <= cores; n *= 2)); do workers_default+=" $n"; done
WORKERS=${WORKERS:-$workers_default}
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg) on $cores cores" >&2
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

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
    # The baseline writes what it decodes to the file system the extraction
    # writes to: decoding into /dev/null would skip the cost of the written
    # pages (and of their writeback, on the same cores) that the extraction
    # pays for every byte.
    decoded="$work/decoded"
    no_decoded() { rm -f "$decoded"; }
    read -r bw bc br < <(measure no_decoded bash -c 'exec bzip2 -dc "$0" >"$1"' "$archive" "$decoded")
    no_decoded
    for w in $WORKERS one-core; do
        pin=()
        threads=$w
        if [ "$w" = one-core ]; then pin=(taskset -c 0) threads=2; fi
        read -r vw vc vr < <(measure : env MW_VERIFY_THREADS=$threads "${pin[@]}" \
            "$mwtool" payload verify "$archive")
        if [ "$w" = one-core ]; then
            ew=0 ec=0 er=0
        else
            read -r ew ec er < <(measure clean env MW_VERIFY_THREADS=$threads "$mwtool" \
                payload extract "$archive" --install-folder "$work/install" \
                --temp-folder "$work/temp" --quiet)
        fi
        results+=("$scale $(stat -c %s "$archive") $total $w $bw $bc $br $vw $vc $vr $ew $ec $er")
    done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo
printf '%-5s %10s %10s %-8s| %7s %7s %6s | %7s %7s %6s %5s | %7s %7s %6s %5s\n' \
    scale compressed decompr. workers "bz2" "cpu" "RSS" "verify" "cpu" "RSS" "x" \
    "extract" "cpu" "RSS" "x"
for row in "${results[@]}"; do
    read -r scale size total w bw bc br vw vc vr ew ec er <<<"$row"
    [ "$w" = one-core ] && w="2, 1 core"
    awk -v s="$scale" -v z="$size" -v t="$total" -v w="$w" -v bw="$bw" -v bc="$bc" -v br="$br" \
        -v vw="$vw" -v vc="$vc" -v vr="$vr" -v ew="$ew" -v ec="$ec" -v er="$er" 'BEGIN {
        line = sprintf("%-5s %10d %10d %-8s| %6.2fs %6.2fs %4.1fMB | %6.2fs %6.2fs %4.1fMB %5.2f |",
            s "x", z, t, w, bw, bc, br / 1024, vw, vc, vr / 1024, vw / bw)
        if (ew > 0)
            line = line sprintf(" %6.2fs %6.2fs %4.1fMB %5.2f", ew, ec, er / 1024, ew / bw)
        print line }'
done
echo "load average (1, 5, 15 min): before $load_before, after $load_after, on $cores cores"
echo "x: wall-clock time over bzip2 -dc's. goals: with 2 workers on 2 cores the file phase"
echo "(extract) at most 1.75 and the check (verify) at most 0.6; peak memory under 16 MB"
echo "with 2 workers at both scales"
