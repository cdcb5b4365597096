#!/usr/bin/env bash
# Plays the real game in a window on a display of its own: an Xvfb with keys typed by xdotool, or
# a headless sway with keys typed by wtype.
#   game_e2e.sh SNAKE_BINARY SCENARIO [x11|wayland]   (default x11)
#   quit       intro, New Game, the snake runs into the wall, the end screen, ESC, Quit: exit 0,
#              nothing asked and no score file (unless a prize lay on the way)
#   close      the window is closed by the window manager during a game: the run still ends
#              cleanly with exit 0
#   nosurface  (wayland) SDL told to use its software framebuffer, which Wayland lacks, so the
#              window has nothing to present into: the game reports the graphics error and
#              exits 1 instead of running without a window
set -euo pipefail

snake=$(realpath "$1")
scenario=$2
display=${3:-x11}
skip=77

if [ "$display" = wayland ]; then
  needed=(sway swaymsg wtype grim convert python3)
else
  needed=(Xvfb xdotool xwd convert)
  [ "$scenario" = close ] && needed+=(openbox wmctrl)
fi
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
done

if [ "$display" = wayland ]; then
  source "$(dirname "$0")/../../tools/lib/wlsession.sh"
  xs_start_sway 1280x1024
else
  source "$(dirname "$0")/../../tools/lib/xsession.sh"
  xs_start_xvfb 1280x1024
  [ "$scenario" = close ] && xs_start_window_manager
fi

if [ "$scenario" = nosurface ]; then
  # SDL's software framebuffer, asked for as a player may in the environment: Wayland has none.
  export SDL_FRAMEBUFFER_ACCELERATION=0
  xs_start_game_without_window "$snake"
  xs_wait_exit 20
  echo "exit code $GAME_CODE"
  cat "$xs_work/out"
  [ "$GAME_CODE" -eq 1 ] || { echo "expected exit code 1"; exit 1; }
  grep -qx 'Graphic error : Graphics error' "$xs_work/out" || { echo "no graphics error"; exit 1; }
  echo "passed"
  exit 0
fi

xs_start_game "$snake"
# Enter typed during the intro waits in the key queue and starts a game from the first menu.
xs_key Return

finish() {
  xs_wait_exit 5
  echo "exit code $GAME_CODE"
  cat "$xs_work/out"
  [ "$GAME_CODE" -eq 0 ] || { cat "$xs_work/err"; exit 1; }
}

# A prize may lie on the snake's way to the wall (a few runs in a hundred): then the run scored,
# the name is asked (standard input is empty, so the name is too) and the table is written.
# Without a score nothing is asked and no table is written.
recorded_only_if_scored() {
  if grep -q 'Enter your name' "$xs_work/out"; then
    [ -s "$xs_work/scores.db" ] || { echo "the game scored but nothing was recorded"; exit 1; }
  else
    [ ! -e "$xs_work/scores.db" ] || { echo "scores.db written without a score"; exit 1; }
  fi
}

case "$scenario" in
  quit)
    # The 11 s intro (its waits add up to that, so nothing is worth looking for before), then the
    # countdown's 4.5 s in yellow; ten ticks of about 100 ms after it the end screen is up.
    xs_sleep_until 11000
    if ! xs_wait_for "$xs_yellow" "$(xs_countdown)" 10 15; then
      # On Wayland the Enter typed during the intro may have been lost: once more.
      [ "$display" = wayland ] && xs_key Return && xs_wait_for "$xs_yellow" "$(xs_countdown)" 10 10 ||
        { echo "no game started"; exit 1; }
    fi
    end_text="144x16+$((CX - 50))+$CY"
    xs_wait_for white "$end_text" 100 30 || { echo "the end screen is not showing"; exit 1; }
    echo "white pixels of \"GaMe OvEr\": $(xs_count white "$end_text")"
    xs_back_to_menu || exit 1
    xs_choose Quit || exit 1
    if [ "$display" = wayland ]; then
      for _ in 1 2 3; do
        for _ in $(seq 30); do kill -0 "$GAME" 2>/dev/null && sleep 0.1; done
        kill -0 "$GAME" 2>/dev/null || break
        xs_key Return
      done
    fi
    finish
    recorded_only_if_scored
    ;;
  close)
    # Closed while a game runs: once its countdown shows (after the intro's 11 s). The countdown
    # lasts 4.5 s, so a slow look at the screen still sees it, where the snake, unsteered, reaches
    # the wall a second after it.
    xs_sleep_until 11000
    xs_wait_for "$xs_yellow" "$(xs_countdown)" 10 30 || { echo "no game started"; exit 1; }
    closed=$(xs_now_ms)
    xs_close
    finish
    echo "ended $(($(xs_now_ms) - closed)) ms after the close"
    recorded_only_if_scored
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "passed"
