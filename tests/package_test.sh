#!/bin/sh
# Builds the Debian package of a built tree with cpack and checks what it holds:
# the program, the library, every public header, the CMake package, the
# pkg-config file and both man pages, under /usr, with the control fields set and
# no path of the build machine left in the files a consumer reads.
#     package_test.sh BUILD_DIR SOURCE_DIR CPACK
set -eu
build=$1 source=$2 cpack=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack -G DEB"; }
set -- "$work"/*.deb
[ $# -eq 1 ] && [ -f "$1" ] || fail "expected one .deb in $work, found: $*"
deb=$1
echo "package: $(basename "$deb")"

dpkg-deb -c "$deb" | awk '{print $NF}' >"$work/contents"
expect() {
    grep -qx "$1" "$work/contents" || fail "$(basename "$deb") lacks $1"
}
expect ./usr/bin/veltran
expect ./usr/share/man/man1/veltran.1
expect ./usr/share/man/man3/qvxml.3
for h in "$source"/qvxml/*.h; do
    expect "./usr/include/qvxml/$(basename "$h")"
done
grep -q '/tests/' "$work/contents" && fail "test files are packaged: $(grep /tests/ "$work/contents")"
for f in libqvxml.a pkgconfig/qvxml.pc cmake/qvxml/qvxmlConfig.cmake \
         cmake/qvxml/qvxmlConfigVersion.cmake cmake/qvxml/qvxmlTargets.cmake; do
    grep -Eq "^\./usr/lib/([^/]+/)?$f\$" "$work/contents" || fail "$(basename "$deb") lacks lib/$f"
done
grep -q '^\./usr/local/' "$work/contents" && fail "files under /usr/local"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = veltran ] || fail "Package: $(field Package)"
[ "$(field Maintainer)" = "veltran developers <dev@veltran.invalid>" ] || fail "Maintainer: $(field Maintainer)"
[ "$(field Section)" = utils ] || fail "Section: $(field Section)"
case "$(field Depends)" in *libc6*) ;; *) fail "Depends: $(field Depends)" ;; esac
[ -n "$(field Description)" ] || fail "no Description"

# The package is installed elsewhere than it was built: the files a consumer
# reads must not point back into the build or source tree.
dpkg-deb -x "$deb" "$work/root"
for f in $(find "$work/root" -name '*.cmake' -o -name '*.pc'); do
    if grep -n -e "$build" -e "$source" "$f"; then fail "$f names the build machine's folders"; fi
done
echo "ok: $(grep -c . "$work/contents") entries"
