#!/usr/bin/env bash
# Compares the converter with peer converters written on pugixml (the whole document
# in memory) and expat (streaming), on exports made by gen_export.py: checks that all
# of them write the same bytes, on every kind and with --concert on events, then
# times them and prints veltran's time over each peer's, with peak memory.
set -euo pipefail

usage() {
    cat >&2 <<'EOF'
usage: bench/compare.sh [SIZE_MB]     each kind at SIZE_MB (default 50)
environment: VELTRAN    the binary to compare (default: built in Release in build/bench)
             RUNS       timed runs per command, the median is shown (default 3)
             SEED       generator seed (default 1)
             BENCH_DIR  cache of generated exports and outputs
                        (default ${TMPDIR:-/tmp}/veltran-bench-own)
EOF
    exit 2
}

here=$(cd "$(dirname "$0")" && pwd)
source "$here/common.sh"
size=${1:-50}
[[ $runs =~ ^[0-9]+$ ]] && [ "$runs" -ge 1 ] || usage
[[ $size =~ ^[0-9]+([.][0-9]+)?$ ]] && [ $# -le 1 ] || usage
command -v python3 >/dev/null || { echo "python3 is needed to generate the exports" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (apt-get install time)" >&2; exit 1; }
mkdir -p "$bench_dir/data" "$bench_dir/cwd" "$bench_dir/out"

# veltran and the peers, built in Release in build/bench; a peer whose library is not
# installed has no target there and is left out.
echo "building veltran and the peers (Release, build/bench)..." >&2
build() { (cd "$root" && cmake --build --preset bench -j2 --target "$@") >>"$bench_dir/build.log" 2>&1; }
: >"$bench_dir/build.log"
if ! (cd "$root" && cmake --preset bench >>"$bench_dir/build.log" 2>&1) ||
    { [ -z "${VELTRAN:-}" ] && ! build veltran; }; then
    tail -n 20 "$bench_dir/build.log" >&2
    echo "build failed; the whole log is in $bench_dir/build.log" >&2
    exit 1
fi
veltran=${VELTRAN:-$root/build/bench/veltran/veltran}
[ -x "$veltran" ] || { echo "no converter at $veltran" >&2; exit 1; }
# the runs start in the scratch folder, so a relative path is made absolute here
veltran=$(cd "$(dirname "$veltran")" && pwd)/$(basename "$veltran")
peers=()
for peer in pugixml expat; do
    if build "peer_$peer"; then
        peers+=("$peer")
    else
        echo "peer_$peer not built (is its development package installed?), left out" >&2
    fi
done

# The commands compared, by name; "pugixml parse only" converts nothing.
declare -A command=([veltran]="$veltran")
names=(veltran)
for peer in "${peers[@]}"; do
    command[$peer]=$root/build/bench/bench/peer_$peer
    names+=("$peer")
    if [ "$peer" = pugixml ]; then
        command["pugixml parse only"]="${command[$peer]} --parse-only"
        names+=("pugixml parse only")
    fi
done

# Every converter's output must be veltran's, byte for byte.
mismatch=0
check() { # file [option]
    local name out ref="$bench_dir/out/veltran.txt"
    (cd "$bench_dir/cwd" && "$veltran" ${2:-} "$1") >"$ref"
    for name in "${peers[@]}"; do
        out="$bench_dir/out/$name.txt"
        (cd "$bench_dir/cwd" && ${command[$name]} ${2:-} "$1") >"$out"
        if ! cmp -s "$ref" "$out"; then
            mismatch=1
            echo "OUTPUT MISMATCH: $name on $(basename "$1") ${2:-}; first differing line:"
            diff "$ref" "$out" | head -n 4 || true # head closes the pipe early
        fi
    done
}

# Times each command RUNS times in rounds, so that a slow spell of the machine weighs
# on all of them alike. Wall seconds from the shell's clock; CPU seconds (user + system)
# and peak RSS from /usr/bin/time. CPU time is the steadier figure on a busy machine.
declare -A seconds cpu rss
time_all() { # file
    local i name kb user system TIMEFORMAT='%3R'
    cat "$1" >/dev/null # from the page cache from now on
    for name in "${names[@]}"; do seconds[$name]=""; cpu[$name]=""; rss[$name]=0; done
    for ((i = 0; i < runs; i++)); do
        for name in "${names[@]}"; do
            # the command's own standard error (veltran's warnings) is kept out of the
            # time the shell reports
            seconds[$name]+=" $({ time (cd "$bench_dir/cwd" && /usr/bin/time -f '%M %U %S' \
                -o "$bench_dir/rss.txt" ${command[$name]} "$1" >/dev/null 2>"$bench_dir/stderr.txt"); } 2>&1)"
            read -r kb user system <"$bench_dir/rss.txt"
            cpu[$name]+=" $(awk -v u="$user" -v s="$system" 'BEGIN { print u + s }')"
            if [ "$kb" -gt "${rss[$name]}" ]; then rss[$name]=$kb; fi
        done
    done
}
# A ratio of CPU times, or - when one of them is below /usr/bin/time's resolution.
ratio='function ratio(a, b) { return a > 0 && b > 0 ? sprintf("%.2f", a / b) : "-" }'
median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

summary=()
for kind in artists locations events; do export_file "$kind" "$size" >/dev/null; done
echo "veltran and its peers on generated exports of $size MB, median of $runs runs"
echo "$(uptime | sed 's/.*load average: /load average before: /')"
for kind in artists locations events; do
    file=$(export_file "$kind" "$size")
    check "$file"
    [ "$kind" = events ] && check "$file" --concert
    time_all "$file"
    mb=$(awk -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", b / 1048576 }')
    ours=$(median <<<"${seconds[veltran]}")
    ours_cpu=$(median <<<"${cpu[veltran]}")
    echo
    printf '%s, %s MB\n%-20s %9s %7s %8s %12s %13s\n' "$kind" "$mb" command "median s" "MB/s" \
        "CPU s" "peak RSS MB" "veltran/this"
    line="| $kind | $ours s | $(awk -v mb="$mb" -v s="$ours" 'BEGIN { printf "%.0f", mb / s }')"
    line+=" | $(awk -v kb="${rss[veltran]}" 'BEGIN { printf "%.0f MB", kb / 1024 }')"
    for name in "${names[@]}"; do
        s=$(median <<<"${seconds[$name]}")
        c=$(median <<<"${cpu[$name]}")
        awk -v n="$name" -v mb="$mb" -v s="$s" -v c="$c" -v kb="${rss[$name]}" -v v="$ours" \
            -v vc="$ours_cpu" "$ratio"' BEGIN { printf "%-20s %9.3f %7.1f %8.2f %12.1f %6.2f (CPU %s)\n",
                                       n, s, mb / s, c, kb / 1024, v / s, ratio(vc, c) }'
        [ "$name" = veltran ] || line+=" | $(awk -v s="$s" -v v="$ours" -v c="$c" -v vc="$ours_cpu" \
            "$ratio"' BEGIN { printf "%.2f (%s)", v / s, ratio(vc, c) }')"
    done
    summary+=("$line |")
done
echo
echo "Summary (ratios: veltran's median wall time over the peer's, and in brackets the same"
echo "with CPU time; below 1 veltran is faster):"
header="| kind | veltran | MB/s | peak RSS |"
rule="|---|---|---|---|"
for name in "${names[@]:1}"; do header+=" vs $name |"; rule+="---|"; done
printf '%s\n' "$header" "$rule" "${summary[@]}"
echo "$(uptime | sed 's/.*load average: /load average after: /')"
rm -f "$bench_dir"/cwd/recent-*
if [ "$mismatch" = 1 ]; then
    echo "[OUTPUT MISMATCH] see above" >&2
    exit 1
fi
echo "every output byte-identical to veltran's (events also with --concert)"
