#!/usr/bin/env bash
# Compares the converter with peer converters written on pugixml (the whole document
# in memory) and expat (streaming), on exports of every shape made by gen_export.py:
# checks that all of them write the same bytes (events also with --concert), then
# prints, for every kind and shape, wall times beside `cat FILE > /dev/null` (the
# machine's limit), instructions per byte counted by callgrind, echo against
# conversion, and four files with -j2 against -j1.
set -euo pipefail

usage() {
    cat >&2 <<'EOF'
usage: bench/compare.sh [SIZE_MB...]    wall times at each size (default: 20 50)
environment: SHAPES     shapes of export (default: tags text cms minified entities attributes nested)
             KINDS      kinds (default: artists locations events)
             PARTS      what to run (default: wall instructions echo jobs); "check"
                        alone only checks the outputs, on the INSTR_MB exports
             RUNS       timed runs per command, the best is shown (default 5; jobs: 3)
             INSTR_MB   size of the exports whose instructions are counted (default 5)
             VELTRAN    the binary to compare (default: built in Release in build/bench)
             SEED       generator seed (default 1)
             BENCH_DIR  cache of generated exports and outputs
                        (default ${TMPDIR:-/tmp}/veltran-bench-own)
The whole run takes about 25 minutes on a 2-core machine, the exports (about 2 GB)
generated once and cached; SHAPES, KINDS and PARTS shorten it. A quick check that
every shape converts alike everywhere: INSTR_MB=0.3 PARTS=check bench/compare.sh
EOF
    exit 2
}

here=$(cd "$(dirname "$0")" && pwd)
RUNS=${RUNS:-5}
source "$here/common.sh"
sizes=("$@")
[ $# -gt 0 ] || sizes=(20 50)
shapes=(${SHAPES:-tags text cms minified entities attributes nested})
kinds=(${KINDS:-artists locations events})
parts=" ${PARTS:-wall instructions echo jobs} "
instr_mb=${INSTR_MB:-5}
[[ $runs =~ ^[0-9]+$ ]] && [ "$runs" -ge 1 ] || usage
for size in "${sizes[@]}" "$instr_mb"; do [[ $size =~ ^[0-9]+([.][0-9]+)?$ ]] || usage; done
command -v python3 >/dev/null || { echo "python3 is needed to generate the exports" >&2; exit 1; }
if [[ $parts == *" instructions "* ]] && ! command -v valgrind >/dev/null; then
    echo "valgrind is needed to count instructions (apt-get install -y valgrind)" >&2
    exit 1
fi
mkdir -p "$bench_dir/data" "$bench_dir/cwd"
# outputs of this run alone, so that two runs sharing the cache do not mix them
out_dir=$(mktemp -d "$bench_dir/out.XXXXXX")
trap 'rm -rf "$out_dir"' EXIT

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

# The commands, by name; "parse only" converts nothing, cat only reads the bytes.
declare -A command=([veltran]="$veltran -q" [cat]="cat")
timed=(veltran)
for peer in "${peers[@]}"; do
    command[$peer]=$root/build/bench/bench/peer_$peer
    timed+=("$peer")
done
timed+=(cat)
[[ " ${peers[*]} " == *" pugixml "* ]] && command["parse only"]="${command[pugixml]} --parse-only"

# Every converter's output must be veltran's, byte for byte.
mismatch=0
check() { # file [option]
    local name out ref="$out_dir/veltran.txt"
    (cd "$bench_dir/cwd" && $veltran ${2:-} "$1") >"$ref" 2>/dev/null
    for name in "${peers[@]}"; do
        out="$out_dir/$name.txt"
        (cd "$bench_dir/cwd" && ${command[$name]} ${2:-} "$1") >"$out"
        if ! cmp -s "$ref" "$out"; then
            mismatch=1
            echo "OUTPUT MISMATCH: $name on $(basename "$1") ${2:-}; first differing line:"
            diff "$ref" "$out" | head -n 4 || true # head closes the pipe early
        fi
    done
}

# Best wall seconds of each named command over COUNT rounds; a round runs every
# command once, so that a slow spell of the machine weighs on all of them alike.
declare -A best
below() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
best_of() { # count file name...
    local count=$1 file=$2 i name s TIMEFORMAT='%3R'
    shift 2
    cat "$file" >/dev/null # from the page cache from now on
    for name in "$@"; do best[$name]=""; done
    for ((i = 0; i < count; i++)); do
        for name in "$@"; do
            s=$({ time (cd "$bench_dir/cwd" && ${command[$name]} "$file" >/dev/null 2>&1); } 2>&1)
            if [ -z "${best[$name]}" ] || below "$s" "${best[$name]}"; then
                best[$name]=$s
            fi
        done
    done
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > 0 && b > 0) ? sprintf("%.2f", a / b) : "-" }'; }
mb_of() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.1f", b / 1048576 }'; }
load() { uptime | sed 's/.*load average: /load average /'; }

# Every export first, so that the tables are not cut by the generator's messages.
for shape in "${shapes[@]}"; do
    for kind in "${kinds[@]}"; do
        [[ $parts != *" wall "* && $parts != *" echo "* ]] ||
            for size in "${sizes[@]}"; do export_file "$kind" "$size" "$shape" >/dev/null; done
        [[ $parts != *" instructions "* && $parts != *" check "* ]] ||
            export_file "$kind" "$instr_mb" "$shape" >/dev/null
    done
done
[[ $parts != *" jobs "* ]] || export_file events "${sizes[0]}" tags >/dev/null

echo "veltran $(cd "$root" && git rev-parse --short HEAD) and its peers; $(nproc) cores; $(load)"

if [[ $parts == *" wall "* ]]; then
    for size in "${sizes[@]}"; do
        echo
        echo "Wall seconds, best of $runs interleaved runs, $size MB exports"
        header="| kind | shape | MB |"
        rule="|---|---|---|"
        for name in "${timed[@]}"; do header+=" $name |"; rule+="---|"; done
        printf '%s\n%s\n' "$header vs faster peer |" "$rule---|"
        for shape in "${shapes[@]}"; do
            for kind in "${kinds[@]}"; do
                file=$(export_file "$kind" "$size" "$shape")
                check "$file"
                [ "$kind" != events ] || check "$file" --concert
                best_of "$runs" "$file" "${timed[@]}"
                line="| $kind | $shape | $(mb_of "$file") |"
                faster=""
                for name in "${timed[@]}"; do
                    line+=" ${best[$name]} |"
                    if [ "$name" != veltran ] && [ "$name" != cat ] &&
                        { [ -z "$faster" ] || below "${best[$name]}" "$faster"; }; then
                        faster=${best[$name]}
                    fi
                done
                echo "$line $([ -n "$faster" ] && ratio "${best[veltran]}" "$faster" || echo -) |"
            done
        done
    done
fi

if [[ $parts == *" check "* ]]; then
    for shape in "${shapes[@]}"; do
        for kind in "${kinds[@]}"; do
            file=$(export_file "$kind" "$instr_mb" "$shape")
            check "$file"
            [ "$kind" != events ] || check "$file" --concert
        done
    done
fi

# Instructions per input byte, counted by callgrind: the same from run to run.
instructions() { # file command...
    local file=$1 ir
    shift
    ir=$(cd "$bench_dir/cwd" && valgrind --tool=callgrind --callgrind-out-file=/dev/null "$@" "$file" 2>&1 \
        >/dev/null | sed -n 's/.*Collected : \([0-9]*\).*/\1/p')
    awk -v ir="$ir" -v b="$(stat -c %s "$file")" 'BEGIN { printf "%.1f", ir / b }'
}
if [[ $parts == *" instructions "* ]]; then
    echo
    echo "Instructions per input byte (callgrind), $instr_mb MB exports"
    if [ -n "${command[parse only]:-}" ]; then
        echo "| kind | shape | veltran | pugixml parse only | pugixml conversion | veltran / parse only |"
        echo "|---|---|---|---|---|---|"
    else
        echo "| kind | shape | veltran |"
        echo "|---|---|---|"
    fi
    for shape in "${shapes[@]}"; do
        for kind in "${kinds[@]}"; do
            file=$(export_file "$kind" "$instr_mb" "$shape")
            check "$file"
            ours=$(instructions "$file" $veltran -q)
            if [ -n "${command[parse only]:-}" ]; then
                parse=$(instructions "$file" ${command[parse only]})
                whole=$(instructions "$file" ${command[pugixml]})
                echo "| $kind | $shape | $ours | $parse | $whole | $(ratio "$ours" "$parse") |"
            else
                echo "| $kind | $shape | $ours |"
            fi
        done
    done
fi

# Echo prints the whole document back: against a conversion of the same file.
if [[ $parts == *" echo "* ]]; then
    size=${sizes[-1]}
    command[echo]="$veltran -q -e"
    echo
    echo "Echo (-e) against conversion, wall seconds, best of $runs, $size MB exports"
    echo "| kind | shape | conversion | echo | echo / conversion |"
    echo "|---|---|---|---|---|"
    for shape in "${shapes[@]}"; do
        [ "$shape" != nested ] || continue # its indented echo grows with the depth
        for kind in "${kinds[@]}"; do
            file=$(export_file "$kind" "$size" "$shape")
            best_of "$runs" "$file" veltran echo
            echo "| $kind | $shape | ${best[veltran]} | ${best[echo]} | $(ratio "${best[echo]}" "${best[veltran]}") |"
        done
    done
fi

# Four equal exports at once, each file on its own job, against one after another.
if [[ $parts == *" jobs "* ]]; then
    size=${sizes[0]}
    file=$(export_file events "$size" tags)
    copies=()
    for n in 1 2 3 4; do
        ln -sf "$file" "$bench_dir/data/copy$n.xml"
        copies+=("$bench_dir/data/copy$n.xml")
    done
    (cd "$bench_dir/cwd" && $veltran -q -j1 "${copies[@]}") >"$out_dir/j1.txt"
    (cd "$bench_dir/cwd" && $veltran -q -j2 "${copies[@]}") >"$out_dir/j2.txt"
    same=identical
    cmp -s "$out_dir/j1.txt" "$out_dir/j2.txt" || { same="DIFFERENT"; mismatch=1; }
    command[j1]="$veltran -q -j1 ${copies[*]:1}"
    command[j2]="$veltran -q -j2 ${copies[*]:1}"
    best_of 3 "${copies[0]}" j1 j2
    echo
    echo "Four equal $size MB event exports (tags), best of 3: -j1 ${best[j1]} s, -j2 ${best[j2]} s," \
        "-j2 / -j1 $(ratio "${best[j2]}" "${best[j1]}"); outputs $same"
fi

echo
echo "($(load))"
rm -f "$bench_dir"/cwd/recent-*
if [ "$mismatch" = 1 ]; then
    echo "[OUTPUT MISMATCH] see above" >&2
    exit 1
fi
echo "every output byte-identical to veltran's (events also with --concert)"
