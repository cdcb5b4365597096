#!/usr/bin/env bash
# Takes the pictures in docs/ from the real game on a virtual X server: docs/menu.png (the menu
# after the intro) and docs/game.png (a game under way: the snake, the prize, the frame and the
# score) in an 800x600 window; then docs/menu-2x.png and docs/game-2x.png, the whole of a
# 3840x2160 screen whose desktop publishes Xft.dpi 192, as a desktop at twice the size does.
# 64 colours are plenty for the game's flat ones and keep each file small.
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

# shots SUFFIX: the menu, then a game under way, then Quit.
shots() {
  xs_start_game "$snake"
  # The menu after the intro, whole: "New Game" chosen and "Quit", the last item drawn, below it in
  # yellow.
  xs_wait_menu "New Game" 30 && xs_wait_for "$xs_yellow" "$(xs_menu_item Quit)" 50 5 ||
    { echo "no menu after the intro" >&2; exit 1; }
  shot "menu$1"
  local chosen
  chosen=$(xs_now_ms)
  xs_key Return
  # The countdown, 4.5 s of yellow digits at the centre: a Down typed now waits for the first step,
  # so that the snake turns at once; Left, once the screen shows it running down (nine steps of
  # 100 ms from the wall), gives it a second corner; the picture two steps later.
  xs_wait_for "$xs_yellow" "$(xs_countdown)" 10 30 || { echo "no countdown" >&2; exit 1; }
  xs_key Down
  if [ "$XS_SCALE" -eq 1 ]; then
    xs_wait_play 10 || { echo "no game started" >&2; exit 1; }
  else
    # A whole 3840x2160 screen is read too slowly to keep pace with the snake: four steps after
    # the countdown's end instead.
    xs_sleep_until $((chosen - GAME_STARTED + 4900))
  fi
  xs_key Left
  sleep 0.2
  shot "game$1"
  # ESC ends the game; had the snake already reached a wall, it leaves the end screen instead.
  xs_key Escape
  if xs_wait_for white "$(xs_end_screen)" 100 5; then
    xs_back_to_menu || exit 1
  fi
  xs_choose Quit || exit 1
  xs_wait_exit 10
}

xs_start_xvfb 800x600
shots ""
xs_start_xvfb 3840x2160
echo "Xft.dpi: 192" | xrdb -merge
XS_SCALE=2
shots -2x
