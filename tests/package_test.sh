#!/bin/sh
# Builds the Debian packages of a built tree with cpack and checks them against
# LIST (debian_packages.txt): the packages of the build's KIND, each holding exactly
# the files listed, with the control fields listed, and no file a consumer reads
# naming the build machine's folders. A shared build's library also carries shlibs
# and a symbols file naming every exported symbol, exports exactly its public
# interface, and lintian finds no error.
# Every man page packaged renders with every groff warning switched on.
#     package_test.sh BUILD_DIR SOURCE_DIR CPACK KIND LIST
set -eu
build=$1 source=$2 cpack=$3 kind=$4 list=$5
for tool in dpkg-deb groff; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "cpack -G DEB"; }
version=$(dpkg-deb -f "$work"/veltran_*.deb Version)
packages=$(awk -v k="$kind" '$1 == k {print $2}' "$list" | sort -u)
[ "$(ls "$work"/*.deb | wc -l)" -eq "$(echo "$packages" | wc -l)" ] || fail "packages: $(ls "$work")"
for name in $packages; do
    deb=$(ls "$work/${name}_${version}_"*.deb) || fail "no package $name"
    grep "^$kind $name " "$list" | cut -d' ' -f3- >"$work/entries"
    while read -r entry; do
        case "$entry" in
        include/qvxml/\*.h) for h in "$source"/qvxml/*.h; do echo "include/qvxml/${h##*/}"; done ;;
        *=*) value=$(dpkg-deb -f "$deb" "${entry%%=*}")
             # shellcheck disable=SC2254 # the listed value is a pattern
             case "$value" in ${entry#*=}) ;; *) fail "$name: ${entry%%=*}: $value" ;; esac ;;
        *) echo "$entry" ;;
        esac
    done <"$work/entries" >"$work/expected"
    sort -o "$work/expected" "$work/expected"
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed -E 's#^\./usr/##;
        s#^lib/[^/]+-linux-[^/]+/#lib/#; s#Targets-[a-z]+\.cmake#Targets-CONFIG.cmake#' |
        sort >"$work/contents"
    diff "$work/expected" "$work/contents" >&2 || fail "$name: files differ from the list (<)"
    dpkg-deb -x "$deb" "$work/root"
done
# The packages are installed elsewhere than they were built.
if grep -n -e "$build" -e "$source" $(find "$work/root" -name '*.cmake' -o -name '*.pc'); then
    fail "the files above name the build machine's folders"
fi
for page in $(find "$work/root" -path '*/man/*.gz'); do
    out=$(gzip -dc "$page" | groff -ww -man -z 2>&1) && [ -z "$out" ] || fail "$page: $out"
done
[ "$kind" = shared ] || { echo "ok: $packages"; exit 0; }
dpkg-deb -e "$work"/libqvxml1_*.deb "$work/control"
[ "$(cat "$work/control/shlibs")" = "libqvxml 1 libqvxml1 (>= $version)" ] ||
    fail "shlibs: $(cat "$work/control/shlibs")"
[ "$(head -n 1 "$work/control/symbols")" = "libqvxml.so.1 libqvxml1 #MINVER#" ] ||
    fail "symbols: $(head -n 1 "$work/control/symbols")"
# The library exports exactly the names declared at the top level of its headers, each
# declaration marked QVXML_API (types, constants and directives aside), all in the
# version node QVXML_1, and symbols lists every one of them.
grep -hE '^[A-Za-z_]' "$work"/root/usr/include/qvxml/*.h |
    grep -vE '^(struct|enum|union|using|typedef|template|namespace|constexpr|inline|#|//)' >"$work/decls"
if grep -v '^QVXML_API ' "$work/decls"; then fail "declared without QVXML_API (above)"; fi
sed -E 's/[[(;].*//; s/.*[^A-Za-z0-9_]//' "$work/decls" | sort >"$work/declared"
nm -DC --defined-only "$(find "$work/root" -name "libqvxml.so.$version")" | cut -d' ' -f3- >"$work/nm"
nodes='^QVXML_1(\.[0-9]+)?$'
grep -vE "$nodes" "$work/nm" | grep -vE '@@QVXML_1(\.[0-9]+)?$' && fail "exported outside QVXML_1.* (above)"
grep -vE "$nodes" "$work/nm" | sed -E 's/\(.*//; s/@@.*//' | sort >"$work/exported"
diff "$work/declared" "$work/exported" >&2 || fail "exports (>) differ from the declarations (<)"
# each symbol dates from its node's release: QVXML_1 is 1.0.0, QVXML_1.N is 1.N.0
[ "$(wc -l <"$work/nm")" -eq "$(grep -cE '@(QVXML_1 1\.0\.0|QVXML_1\.([0-9]+) 1\.\2\.0)$' "$work/control/symbols")" ] ||
    fail "symbols does not list the $(wc -l <"$work/nm") exported symbols with their releases"
command -v lintian >/dev/null || { echo "SKIP: lintian is not installed"; exit 77; }
lintian --fail-on error "$work"/*.deb || fail "lintian found errors (above)"
echo "ok: $packages"
