#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz", clang++) and runs each for a given time.
#
#   fuzz/run.sh [SECONDS_PER_TARGET] [TARGET...]
#
# Each run starts from build/fuzz/corpus/<target>, filled from the kept corpus
# fuzz/corpus/<target>, the target's seeds fuzz/seeds/<target> and, for the targets
# that read XML, the hostile shapes of fuzz/seeds/xml, the sample exports and the XML
# the tests keep on disk. Findings
# (crash-*, leak-*, timeout-*) are written to build/fuzz/findings. Exits non-zero when
# a target reports a finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] ||
    targets=(reader_diff_fuzz builder_fuzz converter_fuzz quote_fuzz entity_fuzz)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null

findings=build/fuzz/findings
mkdir -p "$findings"
status=0
for t in "${targets[@]}"; do
    bin=build/fuzz/fuzz/$t
    [ -x "$bin" ] || { echo "no fuzz target $t" >&2; status=1; continue; }
    corpus=build/fuzz/corpus/$t
    mkdir -p "$corpus"
    for d in "fuzz/corpus/$t" "fuzz/seeds/$t"; do
        [ ! -d "$d" ] || find "$d" -type f
    done > "build/fuzz/$t.seeds"
    # every target but the substitution, whose input has a layout of its own, reads XML
    [ "$t" = quote_fuzz ] || find fuzz/seeds/xml examples qvxml/tests veltran/tests \
        -name '*.xml' -size -64k >> "build/fuzz/$t.seeds"
    while read -r f; do
        cp -n "$f" "$corpus/$(basename "$(dirname "$f")")-$(basename "$f")" || true
    done < "build/fuzz/$t.seeds"
    echo "== $t for ${seconds}s"
    if ! "$bin" -max_total_time="$seconds" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$findings/$t-" -print_final_stats=1 "$corpus" 2> "build/fuzz/$t.log"; then
        status=1
        tail -n 40 "build/fuzz/$t.log" >&2
    fi
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)|cov: ' "build/fuzz/$t.log" | tail -n 4
done
exit $status
