#!/bin/sh
# The worked examples of the documents, each a ```console block, run against the built
# program: every "$ " line is run by sh, standard error with standard output, in a
# fresh folder per document holding examples/, and must print the lines under it.
# Each document holds at least one. A program a document shows whole, its first line
# "// NAME.cpp:", is the example program examples/NAME.cpp.
#     doc_examples_test.sh VELTRAN SOURCE_DIR DOCUMENT...
set -eu
bin=$(cd "$(dirname "$1")" && pwd) source=$2 && shift 2
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
for doc in "$@"; do
    awk '/^```console$/ {on = 1; next} /^```$/ {on = 0} on' "$doc" >"$work/expected"
    grep -q '^\$ ' "$work/expected" || { echo "FAIL: $doc holds no example"; exit 1; }
    rm -rf "$work/run" && mkdir "$work/run" && ln -s "$source/examples" "$work/run/examples"
    sed -n 's/^\$ //p' "$work/expected" | while IFS= read -r command; do
        printf '$ %s\n' "$command" && (cd "$work/run" && PATH=$bin:$PATH sh -c "$command" 2>&1 </dev/null) || true
    done >"$work/actual"
    diff -u "$work/expected" "$work/actual" || { echo "FAIL: an example of $doc no longer holds"; exit 1; }
    for program in "$source"/examples/*.cpp; do
        awk -v first="// ${program##*/}:" '/^```cpp$/ {getline; on = index($0, first) == 1} /^```$/ {on = 0} on' "$doc" >"$work/shown"
        [ ! -s "$work/shown" ] || diff -u "$program" "$work/shown" || { echo "FAIL: $doc shows another ${program##*/}"; exit 1; }
    done
done
