#!/usr/bin/env bash
# Takes the pictures in docs/ from the real game on a virtual X server: docs/menu.png (the menu
# after the intro) and docs/game.png (a game under way: the snake, the prize, the frame and the
# score). 64 colours are plenty for the game's flat ones and keep each file small.
#   tools/screenshots.sh [BUILD_DIR]    (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
snake=$(realpath "$build/game/snake")
docs=$PWD/docs
mkdir -p "$docs"
. tools/lib/xsession.sh

# shot NAME: the game's window as docs/NAME.png.
shot() {
  xwd -id "$WINDOW" -silent | convert xwd:- -colors 64 -strip "$docs/$1.png"
  echo "docs/$1.png: $(stat -c %s "$docs/$1.png") bytes"
}

xs_start_xvfb 800x600
xs_start_game "$snake"
# The intro takes 11 s; the menu is drawn right after it.
xs_sleep_until 12000
shot menu
xs_key Return
# The countdown takes 4.5 s. A few turns make the snake more than a straight line; each turn
# waits for some steps, so that it grows a corner rather than turning back.
sleep 4.8
for turn in Down Left; do
  sleep 0.35
  xs_key "$turn"
done
sleep 0.25
shot game
xs_key Escape
xs_wait_for white "$(xs_end_screen)" 100 10 || { echo "the game did not end on ESC" >&2; exit 1; }
xs_key Escape
sleep 0.5
for _ in 1 2 3; do xs_key Down; sleep 0.3; done
xs_key Return
xs_wait_exit 10
