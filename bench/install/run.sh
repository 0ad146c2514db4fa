#!/usr/bin/env bash
# The unattended install against plain bzip2 decoding, side by side in one
# run, on a payload shaped like the product's (58 entries, about 23 MB; see
# bench/payload/generate.py) carried by a copy of the built installer.
# Reports the median wall-clock and CPU times of several runs of
#   bzip2 -dc ARCHIVE > FILE     (FILE in WORK_DIR, on the file system the
#                                 install writes to)
#   mwtool install INSTALLER     (start-up decisions, verify, extract with the
#                                 journal, CRC-32 read-back, later steps, log)
# for every worker count of the check (MW_VERIFY_THREADS), their ratio, and
# the peak resident memory of each (from /usr/bin/time -v).
# Each install goes into a fresh machine root (MW_ROOT) below WORK_DIR
# (default: a new folder in the build folder, removed at the end; the
# installer takes no machine root that another user could change, so not
# below /tmp).
#
# Needs root (the installer refuses to run without it).
# usage: bench/install/run.sh [BUILD_DIR] [WORK_DIR]
# REPEAT (default 3) sets how many runs of each command the median is taken from;
# SCALES (default "1") which payload sizes are measured (generate.py --scale);
# WORKERS (default "1 2") the worker counts.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
mwtool="$build/bin/mwtool" installer="$build/bin/InstallArbolux7.13c"
for f in "$mwtool" "$installer"; do
    [ -x "$f" ] || { echo "no $f: build the mwtool and installer targets first" >&2; exit 1; }
done
[ "$(id -u)" = 0 ] || { echo "mwtool install needs root" >&2; exit 1; }
command -v bzip2 >/dev/null || { echo "bzip2 is missing" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is missing (package time)" >&2; exit 1; }
if [ -n "${2:-}" ]; then work="$2"; mkdir -p "$work"; keep=1; else work=$(mktemp -d "$build/mw-install-bench.XXXXXX"); keep=0; fi
cleanup() { [ "$keep" = 1 ] || rm -rf "$work"; }
trap cleanup EXIT
export MW_ROOT="$work/root" HOME="$work/home" TMPDIR="$work/tmp"
unset SUDO_UID PKEXEC_UID XDG_DATA_HOME

fresh() { rm -rf "$MW_ROOT" "$HOME" "$TMPDIR"; mkdir -p "$MW_ROOT" "$HOME" "$TMPDIR"; }
# The baseline writes what it decodes where the install writes its files:
# decoding into /dev/null would skip the cost of the written pages (and of
# their writeback, which the kernel does on the same cores) that the install
# pays for every byte, and the larger the payload the less fair that is.
decoded="$work/decoded"
no_decoded() { rm -f "$decoded"; }
# shellcheck source=../lib/measure.sh
. "$here/../lib/measure.sh"

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
results=()
for scale in ${SCALES:-1}; do
    src="$work/src" archive="$work/payload$scale.bz2"
    echo "generating the payload (scale $scale)..." >&2
    python3 "$here/../payload/generate.py" "$src" --scale "$scale"
    "$mwtool" payload create "$archive" "$src/manifest.tsv" --sort
    rm -rf "$src"
    cp "$installer" "$work/installer"
    "$mwtool" res set "$work/installer" 260 134 "$archive"
    entries=$("$mwtool" payload list "$archive" | grep -c $'^[0-9]' || true)
    total=$("$mwtool" payload list "$archive" | awk -F'\t' '$1=="total" {print $2}')
    cat "$archive" "$work/installer" >/dev/null  # both start from the page cache
    for w in ${WORKERS:-1 2}; do
        # Alternate the two so that a change in the machine's load hits both.
        read -r bw bc br < <(measure no_decoded bash -c 'exec bzip2 -dc "$0" >"$1"' "$archive" "$decoded")
        read -r iw ic ir < <(measure fresh env MW_VERIFY_THREADS="$w" "$mwtool" install "$work/installer")
        read -r bw2 bc2 br2 < <(measure no_decoded bash -c 'exec bzip2 -dc "$0" >"$1"' "$archive" "$decoded")
        bw=$(awk -v a="$bw" -v b="$bw2" 'BEGIN{print (a<b)?a:b}')
        bc=$(awk -v a="$bc" -v b="$bc2" 'BEGIN{print (a<b)?a:b}')
        [ "$br2" -gt "$br" ] && br=$br2
        results+=("$scale $entries $(stat -c %s "$archive") $total $w $bw $bc $br $iw $ic $ir")
    done
    rm -f "$archive" "$decoded"
    fresh
done

echo
echo "load average (1, 5, 15 min): before $load_before, after $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
printf '%-5s %7s %11s %12s %7s | %8s %8s %9s | %8s %8s %9s | %6s %6s\n' \
    scale entries compressed decompressed workers "bz2 wall" "bz2 cpu" "bz2 RSS" "ins wall" "ins cpu" "ins RSS" "wall x" "cpu x"
for row in "${results[@]}"; do
    read -r scale n z t w bw bc br iw ic ir <<<"$row"
    awk -v s="$scale" -v n="$n" -v z="$z" -v t="$t" -v w="$w" -v bw="$bw" -v bc="$bc" -v br="$br" \
        -v iw="$iw" -v ic="$ic" -v ir="$ir" 'BEGIN {
        printf "%-5s %7d %11d %12d %7s | %7.2fs %7.2fs %6.1f MB | %7.2fs %7.2fs %6.1f MB | %6.2f %6.2f\n",
            s "x", n, z, t, w, bw, bc, br / 1024, iw, ic, ir / 1024, iw / bw, ic / bc }'
done
echo "goals: the install at most 2.3 times bzip2 -dc; peak memory under 16 MB"
