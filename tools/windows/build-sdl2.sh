#!/usr/bin/env bash
# Builds SDL2 for 64-bit Windows from Debian's own source package, once, into <dir>/install
# (SDL2.dll, its import library, headers, CMake files). Later calls return at once while the
# stamp matches this script's options. Usage: build-sdl2.sh <dir> (e.g. build-windows/sdl2).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
dir="$1"
mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
version=2.26.5

# Only what the game's window needs: video, events and the software paths behind them. Audio,
# joysticks, haptics, sensors, the 2D renderer and the GPU are left out; they are most of SDL's
# code. On Windows the game presents through the window's surface, which SDL draws with GDI.
options=(
  -DSDL_SHARED=ON -DSDL_STATIC=OFF -DSDL_TEST=OFF -DSDL2_DISABLE_SDL2MAIN=ON
  -DSDL_AUDIO=OFF -DSDL_JOYSTICK=OFF -DSDL_HAPTIC=OFF -DSDL_HIDAPI=OFF -DSDL_SENSOR=OFF
  -DSDL_POWER=OFF -DSDL_LOCALE=OFF -DSDL_MISC=OFF -DSDL_FILESYSTEM=OFF
  -DSDL_OPENGL=OFF -DSDL_OPENGLES=OFF -DSDL_VULKAN=OFF -DSDL_DIRECTX=OFF -DSDL_RENDER_D3D=OFF
  -DSDL_XINPUT=OFF -DSDL_WASAPI=OFF -DSDL_DISKAUDIO=OFF -DSDL_DUMMYAUDIO=OFF
  -DSDL_OFFSCREEN=OFF -DSDL_DUMMYVIDEO=OFF -DSDL_RENDER=OFF -DSDL_CCACHE=OFF -DSDL_ASSERTIONS=release
)
stamp="$version $(printf '%s ' "${options[@]}")"
if [ -f "$dir/install/stamp" ] && [ "$(cat "$dir/install/stamp")" = "$stamp" ]; then
  exit 0
fi

rm -rf "$dir/src" "$dir/build" "$dir/install"
mkdir -p "$dir/src"
# Debian's source package; `apt-get source` needs the deb-src line that install-deps.sh adds.
(cd "$dir/src" && apt-get source --download-only "libsdl2=$version+dfsg-1" >/dev/null 2>&1) || {
  echo "Could not fetch Debian's libsdl2 source: run tools/install-deps.sh windows as root" >&2
  exit 1
}
tar -xzf "$dir/src/libsdl2_$version+dfsg.orig.tar.gz" -C "$dir/src"

cmake -S "$dir/src/SDL2-$version" -B "$dir/build" -G Ninja -Wno-dev \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$dir/install" "${options[@]}" >"$dir/configure.log"
cmake --build "$dir/build" -j "${JOBS:-$(nproc)}" >"$dir/build.log"
cmake --install "$dir/build" --strip >"$dir/install.log"
echo "$stamp" >"$dir/install/stamp"
