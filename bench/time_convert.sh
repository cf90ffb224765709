#!/usr/bin/env bash
# Times the converter on exports made by gen_export.py: seconds, MB/s and peak
# memory for each kind at one size, or with --scale the time per MB at a small and
# a large size and on the hostile shapes, to show that time grows with the input
# and memory does not.
set -euo pipefail

usage() {
    cat >&2 <<'EOF'
usage: bench/time_convert.sh [SIZE_MB]                    each kind at SIZE_MB (default 50)
       bench/time_convert.sh --scale [SMALL_MB LARGE_MB]  time per MB at both (default 5 500),
                                                          then the hostile shapes
environment: VELTRAN    the binary to time (default: built in Release in build/bench)
             RUNS       timed runs per file, the median is shown (default 3)
             SEED       generator seed (default 1)
             BENCH_DIR  cache of generated exports (default ${TMPDIR:-/tmp}/veltran-bench-own)
EOF
    exit 2
}

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
is_number() { [[ $1 =~ ^[0-9]+([.][0-9]+)?$ ]]; }
is_number "$runs" && [ "$runs" -ge 1 ] || usage

scale=0
if [ "${1:-}" = --scale ]; then
    scale=1
    small=${2:-5}
    large=${3:-500}
    is_number "$small" && is_number "$large" || usage
    [ $# -le 3 ] || usage
else
    size=${1:-50}
    is_number "$size" && [ $# -le 1 ] || usage
fi

mkdir -p "$bench_dir/data" "$bench_dir/cwd"
command -v python3 >/dev/null || { echo "python3 is needed to generate the exports" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (apt-get install time)" >&2; exit 1; }

# The converter: the one named by VELTRAN, or a Release build in build/bench.
if [ -n "${VELTRAN:-}" ]; then
    veltran=$VELTRAN
else
    echo "building veltran (Release, build/bench)..." >&2
    if ! (cd "$root" && cmake --preset bench && cmake --build --preset bench --target veltran -j2) \
        >"$bench_dir/build.log" 2>&1; then
        tail -n 20 "$bench_dir/build.log" >&2
        echo "build failed; the whole log is in $bench_dir/build.log" >&2
        exit 1
    fi
    veltran=$root/build/bench/veltran/veltran
fi
[ -x "$veltran" ] || { echo "no converter at $veltran" >&2; exit 1; }
# the runs start in the scratch folder, so a relative path is made absolute here
veltran=$(cd "$(dirname "$veltran")" && pwd)/$(basename "$veltran")

# Runs the converter COUNT times on a file (options after it) with its output thrown
# away. Prints: size in MB, median wall seconds, median CPU seconds (user + system),
# largest peak RSS in MB, the exit status of the last run. The times come from the
# shell's own clock (millisecond resolution), the peak RSS from /usr/bin/time -v.
# CPU time is the steadier figure when other work shares the machine.
time_file() { # count file [options...]
    local count=$1 file=$2 i kb status rss_kb=0 TIMEFORMAT='%3R %3U %3S'
    shift 2
    cat "$file" >/dev/null # from the page cache from now on
    : >"$bench_dir/clock.txt"
    for ((i = 0; i < count; i++)); do
        status=0
        { time (cd "$bench_dir/cwd" &&
            /usr/bin/time -v -o "$bench_dir/time.txt" "$veltran" "$@" "$file" >/dev/null 2>"$bench_dir/stderr.txt"); } \
            2>>"$bench_dir/clock.txt" || status=$?
        kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$bench_dir/time.txt")
        if [ "${kb:-0}" -gt "$rss_kb" ]; then rss_kb=$kb; fi
    done
    awk -v bytes="$(stat -c %s "$file")" -v kb="$rss_kb" -v st="$status" '
        function median(v, n,   i, j, t) { # insertion sort: a handful of values
            for (i = 2; i <= n; i++) for (j = i; j > 1 && v[j - 1] > v[j]; j--) { t = v[j]; v[j] = v[j - 1]; v[j - 1] = t }
            return v[int((n + 1) / 2)]
        }
        { wall[NR] = $1; cpu[NR] = $2 + $3 }
        END { printf "%.1f %.4f %.4f %.1f %d\n", bytes / 1048576, median(wall, NR), median(cpu, NR), kb / 1024, st }
    ' "$bench_dir/clock.txt"
}

load() { uptime | sed 's/.*load average: /load average: /'; }

one_size() {
    echo "veltran on generated exports of $size MB, median of $runs runs, $(load)"
    printf '%-18s %8s %8s %8s %8s %12s\n' kind "size MB" seconds "MB/s" "CPU s" "peak RSS MB"
    local kind options file mb wall cpu rss st
    for kind in artists locations events events--concert; do
        options=()
        file=$(export_file "${kind%%--*}" "$size")
        [ "$kind" = events--concert ] && options=(--concert)
        read -r mb wall cpu rss st < <(time_file "$runs" "$file" "${options[@]}")
        awk -v k="${kind/--/ --}" -v mb="$mb" -v s="$wall" -v cpu="$cpu" -v rss="$rss" -v st="$st" 'BEGIN {
            printf "%-18s %8.1f %8.3f %8.1f %8.3f %12.1f%s\n", k, mb, s, (s > 0 ? mb / s : 0), cpu, rss,
                   (st != 0 ? "   exit " st : "") }'
    done
    echo "(seconds: wall clock; CPU s: user + system; $(load))"
}

# One line of the scaling table: the same shape at a small and a large amount, the
# small one run five times as often, since a run of a few milliseconds is easily
# disturbed by other work on the machine. Judged on CPU time per MB, which other
# work disturbs less than wall time: it may grow by 20% at most. For a regular
# export (memory rule 1) peak memory stays under 32 MB and grows by at most 8 MB: 4 MB
# of slack plus the 4 MiB of records held in memory before they spill to a file, which
# the small export's output may not fill. The long text and the deep file are one
# huge item each, whose memory grows with it by nature.
scale_row() { # label memory-rule small-file large-file
    local a b
    a=$(time_file $((5 * runs)) "$3")
    b=$(time_file "$runs" "$4")
    awk -v label="$1" -v memory_rule="$2" -v a="$a" -v b="$b" 'BEGIN {
        split(a, x, " "); split(b, y, " ")
        wx = 1000 * x[2] / x[1]; wy = 1000 * y[2] / y[1]; cx = 1000 * x[3] / x[1]; cy = 1000 * y[3] / y[1]
        ratio = cx > 0 ? cy / cx : 0; grow = y[4] - x[4]
        verdict = ratio > 1.2 ? "TIME/MB GROWS" : (memory_rule && (grow > 8 || y[4] > 32) ? "MEMORY GROWS" : "ok")
        if (x[5] != 0 || y[5] != 0) verdict = verdict " (exit " x[5] "/" y[5] ")"
        printf "%-10s %6.1f %7.2f %7.2f %6.1f | %6.1f %7.2f %7.2f %6.1f | %5.2f %5.2f %+7.1f  %s\n",
               label, x[1], wx, cx, x[4], y[1], wy, cy, y[4], wy / wx, ratio, grow, verdict }'
}

scaling() {
    echo "Time per MB from $small MB to $large MB, median of $((5 * runs)) and $runs runs, $(load)"
    printf '%-10s %6s %7s %7s %6s | %6s %7s %7s %6s | %5s %5s %7s\n' \
        "" MB "wall/MB" "CPU/MB" RSS MB "wall/MB" "CPU/MB" RSS wall CPU "RSS"
    printf '%-10s %6s %7s %7s %6s | %6s %7s %7s %6s | %5s %5s %7s\n' \
        "" "" ms ms MB "" ms ms MB ratio ratio "+MB"
    local kind
    for kind in artists locations events; do
        scale_row "$kind" 1 "$(export_file "$kind" "$small")" "$(export_file "$kind" "$large")"
    done
    echo
    echo "Hostile shapes, a tenth and the whole"
    scale_row "long text" 0 "$(export_file longtext 2)" "$(export_file longtext 20)"
    scale_row "deep" 0 "$(export_file deep 100000)" "$(export_file deep 1000000)"
    scale_row "wide" 1 "$(export_file wide 100000)" "$(export_file wide 1000000)"
    echo "(long text: one description of 2 and 20 MB; deep: 100,000 and 1,000,000 nested"
    echo " elements in one artist; wide: an artists root with 100,000 and 1,000,000 children)"
    echo "(ratios: the larger over the smaller; the CPU ratio is judged, ok up to 1.20; RSS +MB:"
    echo " growth of peak memory, ok up to 8 MB and a peak under 32 MB except for the long"
    echo " text and the deep file, whose peak grows with them)"
    echo "($(load))"
}

if [ "$scale" = 1 ]; then scaling; else one_size; fi
rm -f "$bench_dir"/cwd/recent-*
