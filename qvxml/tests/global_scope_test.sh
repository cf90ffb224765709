#!/bin/sh
# Including qvxml/qvxml.hpp alone declares nothing at global scope but the library's
# records: in clang's syntax tree of a file that includes only it, no top-level
# declaration comes from a library header other than records.h and the two it
# includes, and those from qvxml.hpp are the namespaces qvxml and std.
#     global_scope_test.sh CLANGXX HEADER_DIR
set -eu
command -v "$1" >/dev/null || { echo "SKIP: no clang++"; exit 77; }
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
echo '#include "qvxml/qvxml.hpp"' >"$work/tu.cpp"
"$1" -std=c++20 -fsyntax-only -Xclang -ast-dump -I"$2" "$work/tu.cpp" >"$work/ast"
# A location names its file only when it differs from the last one printed.
# path_at: the file of the location a text starts with, or ""; last_file: the last
# file a line names.
awk 'function path_at(s) { return match(s, /^[^ :<>,]+:[0-9]+:[0-9]+/) && s !~ /^(line|col):/ ? substr(s, 1, index(s, ":") - 1) : "" }
     function last_file(s,  f, g) { for (; match(s, /[<, ][^ :<>,]+:[0-9]+:[0-9]+/); s = substr(s, RSTART + RLENGTH)) if ((g = path_at(substr(s, RSTART + 1))) != "") f = g; return f }
     { begin = $0; sub(/^[^<]*</, "", begin); if ((f = path_at(begin)) != "") file = f }
     /^[|`]-/ && file ~ /\/qvxml\/[a-z_]+\.h(pp)?$/ && file !~ /\/(records|status|tree)\.h$/ &&
         !(file ~ /qvxml\.hpp$/ && /^..NamespaceDecl .* (qvxml|std)$/) { print; bad = 1 }
     { if ((f = last_file($0)) != "") file = f }
     END { exit bad }' "$work/ast" || { echo "FAIL: declared at global scope (above)"; exit 1; }
