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
root=$(dirname "$here")
runs=${RUNS:-3}
seed=${SEED:-1}
bench_dir=${BENCH_DIR:-${TMPDIR:-/tmp}/veltran-bench-own}
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

# Generated files are kept, keyed by kind, amount, seed and the generator's contents.
gen_key=$(sha1sum "$here/gen_export.py" | cut -c1-10)
export_file() { # kind amount -> path of the cached file
    local f="$bench_dir/data/$1-$2-s$seed-$gen_key.xml"
    if [ ! -s "$f" ]; then
        echo "generating $1 $2..." >&2
        python3 "$here/gen_export.py" "$1" "$2" "$seed" >"$f.part"
        mv "$f.part" "$f"
    fi
    printf '%s\n' "$f"
}

# Runs the converter RUNS times on a file (options first) with its output thrown
# away. Prints: size in MB, median seconds, largest peak RSS in MB, the exit status
# of the last run. Wall time is read around each run; the peak RSS comes from
# /usr/bin/time -v.
time_file() { # file [options...]
    local file=$1 i t0 t1 kb status rss_kb=0 times=()
    shift
    cat "$file" >/dev/null # from the page cache from now on
    for ((i = 0; i < runs; i++)); do
        t0=$(date +%s.%N)
        status=0
        (cd "$bench_dir/cwd" && /usr/bin/time -v -o "$bench_dir/time.txt" "$veltran" "$@" "$file" >/dev/null) ||
            status=$?
        t1=$(date +%s.%N)
        times+=("$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')")
        kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$bench_dir/time.txt")
        if [ "${kb:-0}" -gt "$rss_kb" ]; then rss_kb=$kb; fi
    done
    printf '%s\n' "${times[@]}" | sort -g | awk -v bytes="$(stat -c %s "$file")" -v kb="$rss_kb" -v st="$status" '
        { t[NR] = $1 }
        END { printf "%.1f %.4f %.1f %d\n", bytes / 1048576, t[int((NR + 1) / 2)], kb / 1024, st }'
}

load() { uptime | sed 's/.*load average: /load average: /'; }

one_size() {
    echo "veltran on generated exports of $size MB, median of $runs runs, $(load)"
    printf '%-18s %9s %9s %9s %12s\n' kind "size MB" seconds "MB/s" "peak RSS MB"
    local kind options file mb s rss st
    for kind in artists locations events events--concert; do
        options=()
        file=$(export_file "${kind%%--*}" "$size")
        [ "$kind" = events--concert ] && options=(--concert)
        read -r mb s rss st < <(time_file "$file" "${options[@]}")
        awk -v k="${kind/--/ --}" -v mb="$mb" -v s="$s" -v rss="$rss" -v st="$st" 'BEGIN {
            printf "%-18s %9.1f %9.3f %9.1f %12.1f%s\n", k, mb, s, (s > 0 ? mb / s : 0), rss,
                   (st != 0 ? "   exit " st : "") }'
    done
    echo "($(load))"
}

# One line of the scaling table: the same shape at a small and a large amount.
# Time per MB may grow by 20% at most; for a regular export (memory rule 1) peak
# memory may grow by 4 MB at most. The long text and the deep file are one huge item
# each, whose memory grows with it by nature: only their time is judged.
scale_row() { # label memory-rule small-file large-file
    local a b
    a=$(time_file "$3")
    b=$(time_file "$4")
    awk -v label="$1" -v memory_rule="$2" -v a="$a" -v b="$b" 'BEGIN {
        split(a, x, " "); split(b, y, " ")
        px = 1000 * x[2] / x[1]; py = 1000 * y[2] / y[1]; ratio = py / px; grow = y[3] - x[3]
        verdict = ratio > 1.2 ? "TIME/MB GROWS" : (memory_rule && grow > 4 ? "MEMORY GROWS" : "ok")
        if (x[4] != 0 || y[4] != 0) verdict = verdict " (exit " x[4] "/" y[4] ")"
        printf "%-16s %8.1f %8.2f %7.1f | %8.1f %8.2f %7.1f | %6.2f %+7.1f  %s\n",
               label, x[1], px, x[3], y[1], py, y[3], ratio, grow, verdict }'
}

scaling() {
    echo "Time per MB from $small MB to $large MB, median of $runs runs, $(load)"
    printf '%-16s %8s %8s %7s | %8s %8s %7s | %6s %7s\n' \
        "" MB ms/MB "RSS MB" MB ms/MB "RSS MB" ratio "RSS +MB"
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
    echo "(ratio: ms/MB of the larger over the smaller, ok up to 1.20; RSS +MB: growth of peak"
    echo " memory, ok up to 4 MB except for the long text and the deep file)"
    echo "($(load))"
}

if [ "$scale" = 1 ]; then scaling; else one_size; fi
rm -f "$bench_dir"/cwd/recent-*
