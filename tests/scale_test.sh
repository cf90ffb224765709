#!/bin/sh
# One scale case: the shell commands in CASE/input write the input into a pipe, which
# PROGRAM reads as /dev/stdin, in a folder of its own; its standard output and error
# must be CASE/expected.stdout and CASE/expected.stderr (empty when absent). Prints
# how long the run took.
#   scale_test.sh PROGRAM CASE
set -eu
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
err=$2/expected.stderr
[ -f "$err" ] || err=/dev/null
start=$(date +%s)
(cd "$out" && sh "$2/input" | "$1" /dev/stdin >stdout 2>stderr) || { cat "$out/stderr"; exit 1; }
echo "$(basename "$2"): $(($(date +%s) - start)) s"
diff "$2/expected.stdout" "$out/stdout" && diff "$err" "$out/stderr"
