#!/usr/bin/env bash
# Builds the Debian package of the build folder as `make package` does, into a folder
# of its own, and unpacks it into root/ there: the tree the package would install.
#   build_package.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$1
out=$2
rm -rf "$out"
mkdir -p "$out/root"
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || {
    cat "$out/cpack.log" >&2
    exit 1
}
deb=$(ls "$out"/vembacast_*.deb)
dpkg-deb -x "$deb" "$out/root"
echo "$deb"
