#!/bin/sh
# Builds the Debian packages of a built tree with cpack and checks what they hold,
# under /usr, with the control fields set and no path of the build machine left in
# the files a consumer reads. A static build gives one package, veltran, with the
# program, the library, every public header, the CMake package, the pkg-config
# file and both man pages. A shared build (mode "shared") gives libqvxml1,
# libqvxml-dev and veltran, holding exactly the files listed in PACKAGE_LIST, with
# shlibs and symbols for the library, and lintian finding no error in them.
#     package_test.sh BUILD_DIR SOURCE_DIR CPACK [shared PACKAGE_LIST]
set -eu
build=$1 source=$2 cpack=$3 mode=${4:-static} list=${5:-}
command -v dpkg-deb >/dev/null || { echo "SKIP: dpkg-deb is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
# control fields of $deb: field NAME VALUE must equal, field NAME *PART* must contain
field() {
    value=$(dpkg-deb -f "$deb" "$1")
    case "$value" in $2) ;; *) fail "$name: $1: $value" ;; esac
}
maintainer="veltran developers <dev@veltran.invalid>"
headers() { for h in "$source"/qvxml/*.h; do echo "include/qvxml/$(basename "$h")"; done; }

if [ "$mode" = shared ]; then
    version=$(dpkg-deb -f "$work"/veltran_*.deb Version)
    [ "$(ls "$work"/*.deb | wc -l)" -eq 3 ] || fail "expected three packages: $(ls "$work"/*.deb)"
    for package in libqvxml1:libs:libc6 "libqvxml-dev:libdevel:libqvxml1 (= $version)" \
                   veltran:utils:libqvxml1; do
        name=${package%%:*} section=${package#*:} depends=${section#*:} section=${section%%:*}
        deb=$(ls "$work/${name}_${version}_"*.deb) || fail "no package $name"
        { grep "^$name " "$list" | cut -d' ' -f2; [ "$name" != libqvxml-dev ] || headers; } |
            sort >"$work/expected"
        dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' |
            sed -E 's#^\./usr/##; s#^lib/[^/]+-linux-[^/]+/#lib/#' | sort >"$work/contents"
        diff "$work/expected" "$work/contents" >&2 || fail "$name: files differ from the list (<)"
        field Section "$section"
        field Maintainer "$maintainer"
        field Depends "*$depends*"
        dpkg-deb -x "$deb" "$work/root"
    done
    # The library's shlibs and symbols, the latter naming every exported symbol.
    dpkg-deb -e "$work"/libqvxml1_*.deb "$work/control"
    [ "$(cat "$work/control/shlibs")" = "libqvxml 1 libqvxml1 (>= $version)" ] ||
        fail "shlibs: $(cat "$work/control/shlibs")"
    [ "$(head -n 1 "$work/control/symbols")" = "libqvxml.so.1 libqvxml1 #MINVER#" ] ||
        fail "symbols: $(head -n 1 "$work/control/symbols")"
    exported=$(nm -D --defined-only "$(find "$work/root" -name libqvxml.so.1.0.0)" | wc -l)
    [ "$exported" -eq "$(grep -c "@QVXML_1 $version\$" "$work/control/symbols")" ] ||
        fail "symbols does not list the $exported exported symbols"
else
    set -- "$work"/*.deb
    [ $# -eq 1 ] && [ -f "$1" ] || fail "expected one .deb in $work, found: $*"
    deb=$1 name=$(basename "$1")
    echo "package: $name"
    dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/contents"
    for f in bin/veltran share/man/man1/veltran.1.gz share/man/man3/qvxml.3.gz $(headers); do
        grep -qx "\./usr/$f" "$work/contents" || fail "$name lacks $f"
    done
    grep -q '/tests/' "$work/contents" && fail "test files are packaged: $(grep /tests/ "$work/contents")"
    for f in libqvxml.a pkgconfig/qvxml.pc cmake/qvxml/qvxmlConfig.cmake \
             cmake/qvxml/qvxmlConfigVersion.cmake cmake/qvxml/qvxmlTargets.cmake; do
        grep -Eq "^\./usr/lib/([^/]+/)?$f\$" "$work/contents" || fail "$name lacks lib/$f"
    done
    grep -q '^\./usr/local/' "$work/contents" && fail "files under /usr/local"
    field Package veltran
    field Maintainer "$maintainer"
    field Section utils
    field Depends "*libc6*"
    field Description "?*"
    dpkg-deb -x "$deb" "$work/root"
fi

# The package is installed elsewhere than it was built: the files a consumer
# reads must not point back into the build or source tree.
for f in $(find "$work/root" -name '*.cmake' -o -name '*.pc'); do
    if grep -n -e "$build" -e "$source" "$f"; then fail "$f names the build machine's folders"; fi
done
echo "ok: $(grep -c . "$work/contents") entries"
if [ "$mode" = shared ]; then
    command -v lintian >/dev/null || { echo "SKIP: lintian is not installed"; exit 77; }
    lintian --fail-on error "$work"/*.deb || fail "lintian found errors (above)"
fi
