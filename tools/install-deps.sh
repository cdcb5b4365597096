#!/usr/bin/env bash
# Installs the Debian packages that `make run` (argument "run") or `make test` ("test") needs,
# or `make package` ("package": what playing needs and what builds the .deb), or the web build
# ("web": emscripten, the Chromium its test drives, Node.js and npm for the test's driver).
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

wanted=("${run_packages[@]}")
case "${1:-run}" in
  test) wanted+=("${test_packages[@]}") ;;
  web)
    wanted+=("${web_packages[@]}")
    command -v node >/dev/null || wanted+=(nodejs)
    command -v npm >/dev/null || wanted+=(npm)
    ;;
esac

# Building the .deb: dpkg-shlibdeps computes its dependencies, and CPack finds binaries with file.
# The packaging tests check it with the other three.
package_packages=(dpkg-dev file)
case "${1:-run}" in
  package) wanted+=("${package_packages[@]}") ;;
  test) wanted+=("${package_packages[@]}" desktop-file-utils appstream lintian) ;;
esac

missing=()
for package in "${wanted[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [ "$status" = 'install ok installed' ] || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

command="apt-get update && apt-get install -y ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Run as root:  $command" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
