# Settings and the export cache shared by compare.sh and time_convert.sh; sourced by
# both after they set here (this folder).
# shellcheck shell=bash
root=$(dirname "$here")
runs=${RUNS:-3}
seed=${SEED:-1}
bench_dir=${BENCH_DIR:-${TMPDIR:-/tmp}/veltran-bench-own}

# Generated files are kept, keyed by kind, amount, seed, shape and the generator's
# contents.
gen_key=$(sha1sum "$here/gen_export.py" | cut -c1-10)
export_file() { # kind amount [shape] -> path of the cached file
    local f="$bench_dir/data/$1-$2-s$seed${3:+-$3}-$gen_key.xml"
    if [ ! -s "$f" ]; then
        echo "generating $1 $2 ${3:-}..." >&2
        python3 "$here/gen_export.py" "$1" "$2" "$seed" ${3:+"$3"} >"$f.part"
        mv "$f.part" "$f"
    fi
    printf '%s\n' "$f"
}
