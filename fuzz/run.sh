#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz", clang++) and runs each for a given time.
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Each run starts from build/fuzz/corpus/<target>, filled from the kept corpus
# fuzz/corpus/<target>, the target's seeds fuzz/seeds/<target> and, for the targets that
# read XML (all but the substitution, whose input has a layout of its own), the hostile
# shapes of fuzz/seeds/xml, the sample exports and the XML the tests keep on disk.
# Findings (crash-*, leak-*, timeout-*) are written to build/fuzz/findings. Exits
# non-zero when a target reports a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30} status=0 targets=("${@:2}")
[ ${#targets[@]} -gt 0 ] || targets=({reader_diff,builder,converter,quote,entity}_fuzz)
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz -j2 >/dev/null
mkdir -p build/fuzz/findings
for t in "${targets[@]}"; do
    corpus=build/fuzz/corpus/$t log=build/fuzz/$t.log
    mkdir -p "$corpus"
    { find fuzz/{corpus,seeds}/$t -type f 2>/dev/null || true; [ $t = quote_fuzz ] ||
        find fuzz/seeds/xml examples {qvxml,veltran}/tests -name '*.xml' -size -64k; } |
        while read -r f; do d=${f%/*}; cp -n "$f" "$corpus/${d##*/}-${f##*/}" || true; done
    echo "== $t for ${seconds}s"
    build/fuzz/fuzz/$t -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/findings/$t-" "$corpus" 2> "$log" ||
        { status=1; tail -n 40 "$log" >&2; }
    grep -E '^(Done|stat::(number_of_executed_units|peak_rss_mb))|cov: ' "$log" | tail -n 4 || true
done
exit $status
