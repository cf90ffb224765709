#!/bin/sh
# Builds the Debian packages of a shared build with cpack and checks them against LIST
# (debian_packages.txt): each package holding exactly the files and control files
# listed (so no maintainer script unless listed), with the control fields listed, and
# no file a consumer reads naming the build machine's folders. The library's shlibs
# and symbols name every exported symbol with the release of its version node, it
# exports exactly its public interface, and lintian finds no error nor warning.
# Every man page packaged renders with every groff warning switched on.
#     package_test.sh BUILD_DIR SOURCE_DIR CPACK LIST
set -eu
build=$1 source=$2 cpack=$3 list=$4
for tool in dpkg-deb groff; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# a control field, or with DEBIAN/ the whole of a control file
control() { case "$2" in DEBIAN/*) dpkg-deb -I "$1" "${2#DEBIAN/}" ;; *) dpkg-deb -f "$1" "$2" ;; esac; }
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/log" 2>&1 ||
    { cat "$work/log"; fail "cpack -G DEB"; }
version=$(dpkg-deb -f "$work"/veltran_*.deb Version)
packages=$(grep -v '^#' "$list" | cut -d' ' -f1 | sort -u)
[ "$(ls "$work"/*.deb | wc -l)" -eq "$(echo "$packages" | wc -l)" ] || fail "packages: $(ls "$work")"
for name in $packages; do
    deb=$(ls "$work/${name}_${version}_"*.deb) || fail "no package $name"
    grep "^$name " "$list" | cut -d' ' -f2- >"$work/entries"
    while read -r entry; do
        case "$entry" in
        include/qvxml/\*.h) for h in "$source"/qvxml/*.h; do echo "include/qvxml/${h##*/}"; done ;;
        *=*) value=$(control "$deb" "${entry%%=*}")
             # shellcheck disable=SC2254 # the listed value is a pattern
             case "$value" in ${entry#*=}) ;; *) fail "$name: ${entry%%=*}: $value" ;; esac ;;
        *) echo "$entry" ;;
        esac
    done <"$work/entries" >"$work/expected"
    sort -o "$work/expected" "$work/expected"
    { dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed -E 's#^\./usr/##;
        s#^lib/[a-z0-9_]+-linux-[a-z0-9_]+/#MULTIARCH/#; s#Targets-[a-z]+\.cmake#Targets-CONFIG.cmake#'
      dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed -n 's#^\./\(.\)#DEBIAN/\1#p'; } | sort >"$work/contents"
    diff "$work/expected" "$work/contents" >&2 || fail "$name: files differ from the list (<)"
    dpkg-deb -x "$deb" "$work/root"
done
# The packages are installed elsewhere than they were built.
if grep -n -e "$build" -e "$source" $(find "$work/root" -name '*.cmake' -o -name '*.pc'); then
    fail "the files above name the build machine's folders"
fi
# pkg-config leaves the system's folders out, which it knows only by their plain names.
pc=$(find "$work/root" -name qvxml.pc)
grep -qx 'prefix=/usr' "$pc" && grep -qx 'includedir=${prefix}/include' "$pc" || fail "$pc: paths not plain"
for page in $(find "$work/root" -path '*/man/*.gz'); do
    out=$(gzip -dc "$page" | groff -ww -man -z 2>&1) && [ -z "$out" ] || fail "$page: $out"
done
# The library exports exactly the names declared at the top level of its headers, each
# declaration marked QVXML_API (types, constants and directives aside), each in the
# version node QVXML_1 or QVXML_1.N, and symbols lists every one of them.
grep -hE '^[A-Za-z_]' "$work"/root/usr/include/qvxml/*.h |
    grep -vE '^(struct|enum|union|using|typedef|template|namespace|constexpr|inline|#|//)' >"$work/decls"
if grep -v '^QVXML_API ' "$work/decls"; then fail "declared without QVXML_API (above)"; fi
# and those of qvxml.hpp, in its block of visible declarations in namespace qvxml::detail
sed -n '/visibility push(default)/,/visibility pop/s/^\([a-z_]*\)(.*/\1/p; /visibility push(default)/,/visibility pop/s/^[a-z].* \**\([a-z_]*\)(.*/\1/p' \
    "$work"/root/usr/include/qvxml/qvxml.hpp | sed 's/^/qvxml::detail::/' >"$work/cxx"
sed -E 's/[[(;].*//; s/.*[^A-Za-z0-9_]//' "$work/decls" | cat - "$work/cxx" | sort >"$work/declared"
nm -DC --defined-only "$(find "$work/root" -name "libqvxml.so.$version")" | cut -d' ' -f3- >"$work/nm"
nodes='^QVXML_1(\.[0-9]+)?$'
grep -vE "$nodes" "$work/nm" | grep -vE '@@QVXML_1(\.[0-9]+)?$' && fail "exported outside QVXML_1.* (above)"
grep -vE "$nodes" "$work/nm" | sed -E 's/\(.*//; s/@@.*//' | sort >"$work/exported"
diff "$work/declared" "$work/exported" >&2 || fail "exports (>) differ from the declarations (<)"
# each symbol dates from its node's release: QVXML_1 is 1.0.0, QVXML_1.N is 1.N.0
[ "$(wc -l <"$work/nm")" -eq "$(control "$work"/libqvxml1_*.deb DEBIAN/symbols |
    grep -cE '@(QVXML_1 1\.0\.0|QVXML_1\.([0-9]+) 1\.\2\.0)$')" ] ||
    fail "symbols does not list the $(wc -l <"$work/nm") exported symbols with their releases"
command -v lintian >/dev/null || { echo "SKIP: lintian is not installed"; exit 77; }
lintian --fail-on error,warning "$work"/*.deb || fail "lintian found errors or warnings (above)"
echo "ok: $packages"
