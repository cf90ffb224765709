#!/bin/sh
# qvxml(3) names every public name of the library: each function and variable the
# archive exports (global, default visibility: what libqvxml.so.1 exports, as nm -D
# lists it; a sanitizer's __ names left out), and from the headers each record,
# callback member and constant.
#     manual_names_test.sh LIBRARY HEADER_FOLDER MANUAL
set -eu
exported=$(readelf -sW "$1" | awk '$5 == "GLOBAL" && $6 == "DEFAULT" && $7 != "UND" && $8 !~ /^__/ {print $8}' | c++filt | sed 's/(.*//')
[ -n "$exported" ] || { echo "FAIL: $1 exports nothing"; exit 1; }
names=$({ echo "$exported"
    sed -n 's/^struct.* \([a-z_]*\) {.*/\1/p; s/^constexpr int \([a-z_]*\) =.*/\1/p; s/.*(\*\([a-z_]*\))(.*/\1/p' "$2"/*.h; } | sort -u)
missing=$(for name in $names; do grep -qw -e "$name" "$3" || echo "FAIL: qvxml(3) does not name $name"; done)
[ -z "$missing" ] || { echo "$missing"; exit 1; }
