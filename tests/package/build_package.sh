#!/usr/bin/env bash
# Builds the Debian package from the build tree into a directory of the tests' own, as
# `make package` does into dist/.
#   build_package.sh CPACK BUILD_DIR OUTPUT_DIR
set -euo pipefail
cpack=$1 build=$2 out=$3
rm -rf "$out"
"$cpack" --config "$build/CPackConfig.cmake" -B "$out" >"$out.log" 2>&1 || { cat "$out.log"; exit 1; }
ls "$out"/*.deb
