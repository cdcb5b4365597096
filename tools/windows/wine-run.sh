#!/usr/bin/env bash
# Runs a Windows program of the cross-build under Wine: wine-run.sh BUILD_DIR PROGRAM [ARGS...].
# The Wine prefix lives in BUILD_DIR/wine (created on first use, quietly, under a lock so that
# tests starting together make it once), never in the home directory; SDL2.dll is found in
# BUILD_DIR/sdl2/install/bin. Wine's own messages are off; the program's exit code is passed on.
# CMake uses it as the cross-compiling emulator (tests, the icon drawn at build time).
set -euo pipefail
build=$(cd "$1" && pwd)
shift
export WINEPREFIX="$build/wine"
export WINEDEBUG=-all
# No .NET and no browser engine: Wine would offer to download them on its first start.
export WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's drive Z: is the root of the file system.
dlls="$build/sdl2/install/bin"
export WINEPATH="Z:${dlls//\//\\}"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot --init >"$build/wineboot.log" 2>&1
      wineserver --wait
    fi
  ) 9>"$build/wine.lock"
fi
exec wine "$@"
