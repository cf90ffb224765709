#!/bin/sh
# Installs a built tree into a temporary prefix, then builds the consumer program
# against that prefix twice, once through find_package and once through
# pkg-config, and runs each build on a small file.
#     consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CMAKE CXX [EXTRA_FLAGS]
# EXTRA_FLAGS go to both compilations (the sanitizer runtime, for a library
# built with the sanitizers).
set -eu
build=$1 consumer=$2 cmake=$3 cxx=$4 flags=${5:-}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

fail() { echo "FAIL: $*" >&2; exit 1; }

"$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" ||
    { cat "$work/install.log"; fail "cmake --install into $prefix"; }

cat >"$work/sample.xml" <<'XML'
<?xml version="1.0"?>
<!-- two children, the second one looked up -->
<catalogue kind="demo">
  <count>2</count>
  <title>Night Market</title>
</catalogue>
XML
printf 'root: catalogue\ntitle: Night Market\n' >"$work/expected"

# The program must print the root and the child, and report a missing file.
check_program() {
    "$1" "$work/sample.xml" title >"$work/got" || fail "$2: exit status $? on sample.xml"
    cmp -s "$work/expected" "$work/got" ||
        { diff "$work/expected" "$work/got" >&2 || true; fail "$2: unexpected output"; }
    status=0
    "$1" "$work/absent.xml" title >"$work/got" || status=$?
    [ "$status" -eq 1 ] || fail "$2: exit status $status for a missing file, expected 1"
    echo "ok: $2"
}

# Through the CMake package.
"$cmake" -S "$consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log"; fail "configuring the consumer with find_package"; }
grep -q "^qvxml_DIR:PATH=$prefix/" "$work/cmake-build/CMakeCache.txt" ||
    fail "find_package took qvxml from outside $prefix: $(grep '^qvxml_DIR' "$work/cmake-build/CMakeCache.txt")"
"$cmake" --build "$work/cmake-build" >"$work/build.log" 2>&1 ||
    { cat "$work/build.log"; fail "building the consumer with find_package"; }
check_program "$work/cmake-build/show_root" "find_package build"

# Through pkg-config, with only the installed .pc in its search path.
command -v pkg-config >/dev/null || fail "pkg-config is not installed"
pc=$(find "$prefix" -name qvxml.pc)
[ -n "$pc" ] || fail "no qvxml.pc under $prefix"
pcdir=$(dirname "$pc")
cflags=$(PKG_CONFIG_PATH=$pcdir PKG_CONFIG_LIBDIR=$pcdir pkg-config --cflags qvxml)
libs=$(PKG_CONFIG_PATH=$pcdir PKG_CONFIG_LIBDIR=$pcdir pkg-config --libs qvxml)
case "$cflags" in *"$prefix"*) ;; *) fail "pkg-config --cflags gives '$cflags', not a folder under $prefix" ;; esac
# shellcheck disable=SC2086 # the flags are lists of words
"$cxx" -std=c++20 $flags $cflags "$consumer/show_root.cpp" -o "$work/show_root_pc" $libs ||
    fail "building the consumer with pkg-config ($cflags $libs)"
check_program "$work/show_root_pc" "pkg-config build"
