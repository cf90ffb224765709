#!/bin/sh
# Formats each man page with every groff warning switched on and fails on any
# diagnostic, so a page always renders cleanly with man(1).
#     check_man.sh GROFF PAGE...
set -eu
groff=$1
shift
command -v "$groff" >/dev/null || { echo "SKIP: groff is not installed"; exit 77; }
status=0
for page in "$@"; do
    out=$("$groff" -ww -man -z "$page" 2>&1) || out="groff exit status $? $out"
    [ -z "$out" ] || { printf 'FAIL: %s:\n%s\n' "$page" "$out"; status=1; }
done
exit "$status"
