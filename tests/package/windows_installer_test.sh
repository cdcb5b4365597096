#!/usr/bin/env bash
# The Windows installer under Wine, on an Xvfb of its own:
#   windows_installer_test.sh BUILD_DIR CPACK VERSION
# builds the installer from BUILD_DIR into BUILD_DIR/tests/installer-test/, installs it silently
# (/S) into a Wine prefix of its own, checks the installed files, the Start-menu entry and the
# entry in Apps & features (name, version, publisher, icon); starts the game through the
# Start-menu entry twice: the first time it makes the player's folder (%LOCALAPPDATA%\Snake
# Garden), the second time the "Best players" screen shows the table put there, so the game runs
# in that folder; then uninstalls silently and checks that every installed file, the entry and
# the registration are gone while the player's table stays.
# Exit code 0 when it passed, 1 when it failed, 77 when a tool is missing.
set -euo pipefail
build=$(realpath "$1")
cpack=$2
version=$3
here=$(dirname "$(realpath "$0")")
for tool in wine wineserver makensis Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
done
source "$here/../../tools/lib/xsession.sh"

out="$build/tests/installer-test"
rm -rf "$out"
mkdir -p "$out"
"$cpack" -G NSIS -B "$out" --config "$build/CPackConfig.cmake" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log"; exit 1; }
setup="$out/snake-garden-$version-win64-setup.exe"
[ -f "$setup" ] || { echo "no installer $setup"; ls "$out"; exit 1; }

# A prefix of the test's own, so that an install never touches the build's.
export WINEPREFIX="$xs_work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineboot --init >/dev/null 2>&1
wineserver --wait
drive_c="$WINEPREFIX/drive_c"
installed="$drive_c/Program Files/Snake Garden"
menu="$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Snake Garden"
player="$drive_c/users/$(whoami)/AppData/Local/Snake Garden"
key='Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Snake Garden'
fail() { echo "FAILED: $*"; exit 1; }

wine "$setup" /S
wineserver --wait
expected="LICENSE.txt README.txt SDL2-LICENSE.txt SDL2.dll Uninstall.exe snake-garden.cmd snake-garden.ico snake.exe"
files=$(cd "$installed" && ls | sort | xargs)
[ "$files" = "$expected" ] || fail "installed files: $files"
echo "installed: $files"
[ -f "$menu/Snake Garden.lnk" ] || fail "no Start-menu entry"
registry() { grep -A12 "^\[${key//\\/\\\\}\]" "$WINEPREFIX/system.reg" | grep "^\"$1\"=" || true; }
[ "$(registry DisplayName)" = '"DisplayName"="Snake Garden"' ] || fail "$(registry DisplayName)"
[ "$(registry DisplayVersion)" = "\"DisplayVersion\"=\"$version\"" ] || fail "$(registry DisplayVersion)"
[ "$(registry Publisher)" = '"Publisher"="The Snake Garden developers"' ] || fail "$(registry Publisher)"
[[ $(registry DisplayIcon) == *snake-garden.ico* ]] || fail "no icon for Apps & features"
echo "Apps & features: Snake Garden $version by The Snake Garden developers, with its icon"

xs_start_xvfb 1280x1024
red="rgb(168,0,0)"
# Starts the Start-menu entry as Explorer would, and finds the game's window: Wine names its
# windows' class after the program.
start_from_menu() {
  (cd "$xs_work" && exec wine start /wait "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Snake Garden\\Snake Garden.lnk" \
    </dev/null >"$xs_work/out" 2>"$xs_work/err") &
  GAME=$!
  xs_pids+=("$GAME")
  WINDOW=$(timeout 60 xdotool search --sync --onlyvisible --class '^snake\.exe$') || true
  WINDOW=${WINDOW%%$'\n'*}
  [ -n "$WINDOW" ] || fail "the Start-menu entry opened no game window"
  local X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
  CX=$((X + (WIDTH - 1) / 2))
  CY=$((Y + (HEIGHT - 1) / 2))
  xs_wait_menu "${xs_menu_items[0]}" 40 || fail "no menu"
}
# From the menu with its first item chosen: Quit, and the game ends.
quit() {
  xs_choose Quit 10 || fail "Quit could not be chosen"
  xs_wait_exit 20 || fail "the game did not end"
}

[ ! -e "$player" ] || fail "the player's folder exists before the first start"
start_from_menu
[ -d "$player" ] || fail "the first start made no player's folder"
quit
echo "first start from the Start menu: the player's folder was made"

# A table of two, 26 and 10, in the player's folder: "Best players" shows two rows.
python3 - "$player/scores.db" <<'PY'
import struct, sys
data = bytearray(2582)
for k, (name, score) in enumerate(((b"Alice", 26), (b"Bob", 10))):
    data[258 * k] = len(name)
    data[258 * k + 1 : 258 * k + 1 + len(name)] = name
    struct.pack_into("<H", data, 258 * k + 256, score)
struct.pack_into("<H", data, 2580, 2)
open(sys.argv[1], "wb").write(data)
PY
cp "$player/scores.db" "$xs_work/table.before"
start_from_menu
xs_choose "Best players" 10 || fail "Best players could not be chosen"
# Rows 1 and 2 in red at MY2 + 20 and + 40, nothing at row 3.
xs_wait_for "$red" "300x16+$((CX - 10))+$((CY + 40))" 50 10 || fail "the table's second row is not shown"
row1=$(xs_count "$red" "300x16+$((CX - 10))+$((CY + 20))")
row3=$(xs_count "$red" "300x16+$((CX - 10))+$((CY + 60))")
((row1 > 50 && row3 == 0)) || fail "rows: first $row1 red pixels, third $row3"
echo "second start: \"Best players\" lists the table in the player's folder ($row1 red pixels in row 1)"
xs_back_to_menu 10 || fail "no menu after the table"
quit

# Every program of the prefix gone first (the game and its console), or their files are in use.
wineserver --wait
wine "C:\\Program Files\\Snake Garden\\Uninstall.exe" /S
wineserver --wait
[ ! -e "$installed" ] || fail "left after uninstalling: $(ls "$installed")"
[ ! -e "$menu" ] || fail "the Start-menu entry is left"
[ -z "$(registry DisplayName)" ] || fail "the Apps & features entry is left"
cmp -s "$player/scores.db" "$xs_work/table.before" || fail "the player's table changed"
echo "uninstalled: no file, entry or registration left; the player's table stays"
echo "passed"
