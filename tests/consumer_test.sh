#!/bin/sh
# Installs a built tree into a temporary prefix, then builds the consumer program
# against that prefix twice, once through find_package and once through
# pkg-config, and runs each build on a small file: it must print the root and the
# child, and exit with 1 for a missing file (a time limit keeps a consumer that
# never returns from holding CTest). When the tree built the shared library, both
# programs and the installed veltran must need libqvxml.so.1 and load it from the
# prefix, with no LD_LIBRARY_PATH. A second program defines functions of its own
# under names the library exports: it must link, and load the file with the
# library's own functions; a third does the same through qvxml.hpp alone, built both
# ways.
#     consumer_test.sh BUILD_DIR CONSUMER_SOURCE_DIR CMAKE CXX [EXTRA_FLAGS]
# EXTRA_FLAGS go to both compilations (the sanitizer runtime, for a library
# built with the sanitizers).
set -eu
build=$1 consumer=$2 cmake=$3 cxx=$4 flags=${5:-}
work=$(mktemp -d) && trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }
# runs a step with its output kept, shown only when it fails
quiet() { what=$1; shift; "$@" >"$work/log" 2>&1 || { cat "$work/log"; fail "$what"; }; }
for tool in pkg-config readelf; do
    command -v $tool >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
quiet "cmake --install into $prefix" "$cmake" --install "$build" --prefix "$prefix"
printf '<?xml version="1.0"?>\n<catalogue>\n  <count>2</count>\n  <title>Night Market</title>
</catalogue>\n' >"$work/sample.xml"
shared=$(find "$prefix" -name libqvxml.so.1)
loads_installed() {
    [ -z "$shared" ] && return
    readelf -d "$1" | grep -q 'NEEDED.*\[libqvxml\.so\.1\]' || fail "$2: libqvxml.so.1 not NEEDED"
    loaded=$(env -u LD_LIBRARY_PATH ldd "$1" | awk '$1 == "libqvxml.so.1" {print $3}')
    [ "$(realpath "$loaded")" = "$(realpath "$shared")" ] || fail "$2: loads '$loaded'"
}
loads_installed "$prefix/bin/veltran" "installed veltran"
env -u LD_LIBRARY_PATH "$prefix/bin/veltran" >/dev/null || fail "installed veltran: exit status $?"
check_program() {
    loads_installed "$1" "$2"
    got=$(timeout 60 "$1" "$work/sample.xml" title) || fail "$2: exit status $? on sample.xml"
    [ "$got" = "$(printf 'root: catalogue\ntitle: Night Market')" ] || fail "$2 printed: $got"
    status=0 && timeout 60 "$1" "$work/absent.xml" title >/dev/null || status=$?
    [ "$status" -eq 1 ] || fail "$2: exit status $status for a missing file, expected 1"
}
quiet "configuring the consumer with find_package" "$cmake" -S "$consumer" -B "$work/cmake-build" \
    -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_CXX_FLAGS="$flags"
grep -q "^qvxml_DIR:PATH=$prefix/" "$work/cmake-build/CMakeCache.txt" ||
    fail "find_package took qvxml from outside $prefix"
quiet "building the consumer with find_package" "$cmake" --build "$work/cmake-build"
check_program "$work/cmake-build/show_root" "find_package build"
# A program with functions of its own under exported names links, and the library's
# own calls never reach them.
loads_installed "$work/cmake-build/own_names" "own_names"
got=$(timeout 60 "$work/cmake-build/own_names" "$work/sample.xml") || fail "own_names: $got"
loads_installed "$work/cmake-build/own_names_hpp" "own_names_hpp"
got=$(timeout 60 "$work/cmake-build/own_names_hpp" "$work/sample.xml") || fail "own_names_hpp: $got"
# The same for every exported name: no member of the archive calls one of the names
# its member exports.cpp.o defines (which calls the internal names alone).
archive=$(find "$prefix" -name libqvxml.a)
(cd "$work" && ar x "$archive" exports.cpp.o) || fail "no exports.cpp.o in $archive"
nm -u "$archive" | awk 'NF == 2 {print $2}' | sort -u >"$work/called"
called=$(nm -g --defined-only "$work/exports.cpp.o" | awk '{print $3}' | sort | comm -12 - "$work/called")
[ -z "$called" ] || fail "the library calls its exported names: $called"
# Through pkg-config, with only the installed .pc in its search path; the installed
# library folder as the run path, as the find_package build has it.
pcdir=$(dirname "$(find "$prefix" -name qvxml.pc)")
pkgconf() { PKG_CONFIG_PATH=$pcdir PKG_CONFIG_LIBDIR=$pcdir pkg-config "$@" qvxml; }
cflags=$(pkgconf --cflags) libs="$(pkgconf --libs) -Wl,-rpath,$(pkgconf --variable=libdir)"
case "$cflags" in *"$prefix"*) ;; *) fail "pkg-config --cflags gives '$cflags'" ;; esac
# shellcheck disable=SC2086 # the flags are lists of words
quiet "building the consumer with pkg-config" \
    "$cxx" -std=c++20 $flags $cflags "$consumer/show_root.cpp" -o "$work/show_root_pc" $libs
check_program "$work/show_root_pc" "pkg-config build"
quiet "building own_names_hpp with pkg-config" \
    "$cxx" -std=c++20 -Wall -Werror $flags $cflags "$consumer/own_names_hpp.cpp" -o "$work/own_pc" $libs
got=$(timeout 60 "$work/own_pc" "$work/sample.xml") || fail "own_names_hpp, pkg-config build: $got"
echo "ok: both builds"
