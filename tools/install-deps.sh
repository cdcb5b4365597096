#!/usr/bin/env bash
# Installs the Debian packages that `make run` (argument "run") or `make test` ("test") needs,
# or `make package` ("package": what playing needs and what builds the .deb), or the web build
# ("web": emscripten, the Chromium its test drives, Node.js and npm for the test's driver), or the
# Windows targets ("windows": the mingw-w64 cross-compilers, Wine, NSIS, GoogleTest's source, and
# the tools the Windows tests drive the game with; also the deb-src line that lets
# `apt-get source libsdl2` fetch the SDL2 source the Windows build compiles).
# As root it runs apt-get update once and installs what is missing; otherwise it prints the
# command to run and fails.
set -euo pipefail

run_packages=(g++ cmake ninja-build make pkg-config libsdl2-dev)
test_packages=(libgtest-dev libbenchmark-dev libx11-dev libxtst-dev xvfb xdotool x11-apps x11-utils imagemagick openbox wmctrl valgrind python3
  pyflakes3 sway wtype grim libegl-mesa0 libgl1-mesa-dri)

# The web build's compiler, and the browser and server its test uses; its test also builds a
# small native program, which needs what playing needs. Node.js and npm come from Debian unless
# the machine already has them (NodeSource's nodejs provides npm itself).
web_packages=(emscripten chromium python3)

# The POSIX-threads mingw compiler (the game uses std::thread); wine64 runs the 64-bit programs.
windows_packages=(g++-mingw-w64-x86-64-posix wine wine64 nsis googletest python3 xvfb xdotool
  x11-utils imagemagick)

wanted=("${run_packages[@]}")
case "${1:-run}" in
  test) wanted+=("${test_packages[@]}") ;;
  web)
    wanted+=("${web_packages[@]}")
    command -v node >/dev/null || wanted+=(nodejs)
    command -v npm >/dev/null || wanted+=(npm)
    ;;
  windows) wanted=(cmake ninja-build make "${windows_packages[@]}") ;;
esac

# Building the .deb: dpkg-shlibdeps computes its dependencies, and CPack finds binaries with file.
# The packaging tests check it with the other three.
package_packages=(dpkg-dev file)
case "${1:-run}" in
  package) wanted+=("${package_packages[@]}") ;;
  test) wanted+=("${package_packages[@]}" desktop-file-utils appstream lintian) ;;
esac

# Debian's own source of SDL2 2.26.5 is what the Windows build compiles: it needs a deb-src line.
sources_line=/etc/apt/sources.list.d/snake-garden-bookworm-src.sources
need_sources=false
if [ "${1:-run}" = windows ] && ! apt-get source --print-uris libsdl2 >/dev/null 2>&1; then
  need_sources=true
fi

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = 'install ok installed' ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && ! $need_sources && exit 0

command="apt-get update && apt-get install -y ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  $need_sources && echo "No deb-src line for bookworm: run this script as root to add one" >&2
  [ ${#missing[@]} -gt 0 ] && echo "Missing packages: ${missing[*]}" >&2 &&
    echo "Run as root:  $command" >&2
  exit 1
fi
if $need_sources; then
  echo "Adding $sources_line (Debian's source packages, for SDL2)"
  cat >"$sources_line" <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
fi
apt-get -o DPkg::Lock::Timeout=900 update -qq
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
# Wine recommends a desktop's worth of fonts and libraries that the Windows tests never use.
recommends=()
[ "${1:-run}" = windows ] && recommends=(--no-install-recommends)
DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq \
  "${recommends[@]}" "${missing[@]}"
