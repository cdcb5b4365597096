#!/usr/bin/env bash
# The installed launcher in a real window on an Xvfb of its own, with HOME in a scratch directory:
#   launcher_e2e.sh deb PACKAGE_DIR VERSION   the .deb unpacked with dpkg-deb -x, XDG_DATA_HOME
#                                             unset, started with --scale 2
#   launcher_e2e.sh prefix BUILD_DIR          `cmake --install --prefix $HOME/.local`, XDG_DATA_HOME set
# The player's directory does not exist before; the game runs in it, not where it was started;
# Quit from the first menu ends with exit code 0, nothing asked; the directory stays. A HOME that
# is not an absolute path, and a scale that is not 1 to 8, are refused first.
set -euo pipefail
skip=77
for tool in Xvfb xdotool xwd convert dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
done
source "$(dirname "$0")/../../tools/lib/xsession.sh"

export HOME=$xs_work/home
mkdir -p "$HOME"
scale=1
case "$1" in
  deb)
    dpkg-deb -x "$2/snake-garden_${3}_$(dpkg --print-architecture).deb" "$xs_work/root"
    launcher=$xs_work/root/usr/games/snake-garden
    unset XDG_DATA_HOME
    table=$HOME/.local/share/snake-garden
    scale=2
    ;;
  prefix)
    cmake --install "$2" --prefix "$HOME/.local" >/dev/null
    launcher=$HOME/.local/games/snake-garden
    export XDG_DATA_HOME=$xs_work/data
    table=$XDG_DATA_HOME/snake-garden
    ;;
  *) echo "unknown kind $1"; exit 2 ;;
esac
[ ! -e "$table" ] || { echo "$table exists before the first start"; exit 1; }
set +e
"$launcher" --scale 9 2>"$xs_work/refused"
code=$?
set -e
[ "$code" -eq 2 ] && grep -q 'usage: snake-garden \[--scale N\]' "$xs_work/refused" ||
  { echo "--scale 9 was not refused: exit code $code"; cat "$xs_work/refused"; exit 1; }
[ ! -e "$table" ] || { echo "$table made by a refused start"; exit 1; }

# No usable place named: a relative HOME, with a CDPATH that leads a relative cd elsewhere, or
# "-", which mkdir would take for an option. The launcher says so and stops (code 2) before the
# game starts; nothing is created, and nothing goes to standard output.
start=$xs_work/start
mkdir -p "$start" "$xs_work/cdpath/rel/.local/share/snake-garden"
for bad in rel -; do
  code=0
  (cd "$start" && exec env -u XDG_DATA_HOME -u DISPLAY HOME="$bad" CDPATH="$xs_work/cdpath" \
    "$launcher" >"$xs_work/bad.out" 2>"$xs_work/bad.err") || code=$?
  echo "HOME=$bad: exit code $code, says: $(cat "$xs_work/bad.err" "$xs_work/bad.out")"
  [ "$code" -eq 2 ] && [ ! -s "$xs_work/bad.out" ] && [ -z "$(ls -A "$start")" ] &&
    grep -q 'neither XDG_DATA_HOME nor HOME is an absolute path' "$xs_work/bad.err" ||
    { echo "HOME=$bad was not refused as it should be"; exit 1; }
done

xs_start_xvfb 1280x1024
if [ "$scale" -eq 1 ]; then xs_start_game "$launcher"; else xs_start_game "$launcher" --scale "$scale"; fi
# The launcher execs the game, so the pid is the game's own.
cwd=$(readlink "/proc/$GAME/cwd")
echo "the game runs in $cwd"
[ "$cwd" = "$table" ] || { echo "not in the player's directory $table"; exit 1; }
XS_SCALE=$scale  # the menu's places, in screen pixels
xs_wait_menu "New Game" 30 || { echo "no menu"; exit 1; }
xs_choose Quit || exit 1
xs_wait_exit 10
echo "exit code $GAME_CODE"
[ "$GAME_CODE" -eq 0 ] || { cat "$xs_work/out" "$xs_work/err"; exit 1; }
! grep -q 'Enter your name' "$xs_work/out" || { echo "a name was asked"; exit 1; }
[ -d "$table" ] || { echo "$table is gone"; exit 1; }
[ -z "$(ls -A "$table")" ] || { echo "files in $table after a run without a score: $(ls -A "$table")"; exit 1; }
echo "passed"
