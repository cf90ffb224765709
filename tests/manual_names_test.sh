#!/bin/sh
# qvxml(3) names every public name of the library: each function and variable the
# archive exports (global, default visibility: what libqvxml.so.1 exports, as nm -D
# lists it), and from the headers each record, callback member and constant.
#     manual_names_test.sh LIBRARY HEADER_FOLDER MANUAL
set -eu
names=$({ readelf -sW "$1" | awk '$5 == "GLOBAL" && $6 == "DEFAULT" && $7 != "UND" {print $8}' | c++filt
    sed -n 's/^struct.* \([a-z_]*\) {.*/\1/p; s/^constexpr int \([a-z_]*\) =.*/\1/p; s/.*(\*\([a-z_]*\))(.*/\1/p' "$2"/*.h
} | sed 's/(.*//' | sort -u)
[ -n "$names" ] || { echo "FAIL: no names read from $1"; exit 1; }
missing=$(for name in $names; do grep -qw -e "$name" "$3" || echo "FAIL: qvxml(3) does not name $name"; done)
[ -z "$missing" ] || { echo "$missing"; exit 1; }
