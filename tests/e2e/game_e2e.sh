#!/usr/bin/env bash
# Plays the real game in a window on a display of its own: an Xvfb with keys typed by xdotool, or
# a headless sway with keys typed by wtype.
#   game_e2e.sh SNAKE_BINARY SCENARIO [x11|wayland]   (default x11)
#   quit       intro, New Game, the snake runs into the wall, the end screen, ESC, Quit: exit 0,
#              nothing asked, no score file
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
  if [ "$scenario" = close ]; then
    openbox >/dev/null 2>&1 &
    xs_pids+=($!)
    sleep 1
  fi
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

case "$scenario" in
  quit)
    # 11 s intro, 4.5 s countdown, ten ticks of about 100 ms: the end screen is up by 17.5 s.
    xs_sleep_until 17500
    xs_wait_for white "144x16+$((CX - 50))+$CY" 100 30 || { echo "the end screen is not showing"; exit 1; }
    echo "white pixels of \"GaMe OvEr\": $(xs_count white "144x16+$((CX - 50))+$CY")"
    xs_key Escape
    sleep 0.3
    for _ in 1 2 3; do xs_key Down; sleep 0.3; done
    xs_key Return
    finish
    ! grep -q 'Enter your name' "$xs_work/out" || { echo "a name was asked"; exit 1; }
    [ ! -e "$xs_work/scores.db" ] || { echo "scores.db was written"; exit 1; }
    ;;
  close)
    xs_sleep_until 16200
    closed=$(xs_now_ms)
    xs_close
    finish
    echo "ended $(($(xs_now_ms) - closed)) ms after the close"
    if grep -q 'Enter your name' "$xs_work/out"; then
      [ -s "$xs_work/scores.db" ] || { echo "the game scored but nothing was recorded"; exit 1; }
    else
      [ ! -e "$xs_work/scores.db" ] || { echo "scores.db written without a score"; exit 1; }
    fi
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "passed"
