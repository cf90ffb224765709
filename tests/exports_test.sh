#!/bin/sh
# The shared library exports exactly its public interface: the names declared at
# the top level of the public headers, each declaration marked QVXML_API, are the
# names nm lists as the library's defined dynamic symbols (beside the version
# node), so a public operation left out of cmake/qvxml.map, or a helper let out,
# fails here.
#     exports_test.sh LIBRARY HEADER_DIR
set -eu
lib=$1 headers=$2
command -v nm >/dev/null || { echo "SKIP: nm (binutils) is not installed"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Top-level declarations: every line opening at the margin that is not a type,
# a constant, a directive or a comment.
grep -hE '^[A-Za-z_]' "$headers"/*.h |
    grep -vE '^(struct|enum|union|using|typedef|template|namespace|constexpr|inline|#|//)' >"$work/decls"
if grep -v '^QVXML_API ' "$work/decls"; then fail "declared without QVXML_API (above)"; fi
sed -E 's/[[(;].*//; s/.*[^A-Za-z0-9_]//' "$work/decls" | sort >"$work/declared"

nm -DC --defined-only "$lib" | sed -E 's/^[0-9a-f]* [A-Za-z] //' >"$work/nm"
grep -v '@@QVXML_1$' "$work/nm" | grep -vx QVXML_1 &&
    fail "exported outside the version node QVXML_1 (above)"
grep -vx QVXML_1 "$work/nm" | sed -E 's/\(.*//; s/@@.*//' | sort >"$work/exported"
diff "$work/declared" "$work/exported" >&2 ||
    fail "exported symbols (>) differ from the public declarations (<)"
echo "ok: $(grep -c . "$work/exported") public names exported"
