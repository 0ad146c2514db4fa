# Shared by the scripts that time whole processes (source it). Needs
# /usr/bin/time (package time).
#
# measure PREPARE COMMAND...: runs PREPARE (untimed, ":" for nothing), then
# COMMAND, $REPEAT times (default 3); prints "wall cpu maxrss_kb": the median
# run's wall-clock and CPU seconds (the run with the median wall-clock time)
# and the largest peak resident memory seen in any run. COMMAND's standard
# output goes to /dev/null; its failure ends the script.
measure() {
    local prepare="$1" rows=() out wall cpu rss
    shift
    for _ in $(seq "${REPEAT:-3}"); do
        "$prepare"
        out=$(/usr/bin/time -v "$@" 2>&1 >/dev/null | tail -n 30) || {
            echo "failed: $*" >&2
            echo "$out" >&2
            exit 1
        }
        wall=$(awk -F': ' '/Elapsed \(wall clock\)/ {n=split($2,a,":"); s=0; for(i=1;i<=n;i++) s=s*60+a[i]; print s}' <<<"$out")
        cpu=$(awk -F': ' '/User time/ {u=$2} /System time/ {s=$2} END {print u+s}' <<<"$out")
        rss=$(awk -F': ' '/Maximum resident set size/ {print $2}' <<<"$out")
        rows+=("$wall $cpu $rss")
    done
    printf '%s\n' "${rows[@]}" | sort -g -k1,1 | awk '
        { wall[NR] = $1; cpu[NR] = $2; if ($3 > rss) rss = $3 }
        END { m = int((NR + 1) / 2); print wall[m], cpu[m], rss + 0 }'
}
