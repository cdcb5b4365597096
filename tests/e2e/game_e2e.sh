#!/usr/bin/env bash
# Plays the real game in a window on an Xvfb of its own, with keys typed by xdotool.
#   game_e2e.sh SNAKE_BINARY quit   intro, New Game, the snake runs into the wall, the end screen,
#                                   ESC, Quit: exit 0, nothing asked, no score file
#   game_e2e.sh SNAKE_BINARY close  the window is closed by the window manager during a game:
#                                   the run still ends cleanly with exit 0
set -euo pipefail

snake=$(realpath "$1")
scenario=$2
skip=77

needed=(Xvfb xdotool xwd convert)
[ "$scenario" = close ] && needed+=(openbox wmctrl)
for tool in "${needed[@]}"; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
done

source "$(dirname "$0")/../../tools/lib/xsession.sh"
xs_start_xvfb 1280x1024
if [ "$scenario" = close ]; then
  openbox >/dev/null 2>&1 &
  xs_pids+=($!)
  sleep 1
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
    xs_sleep_until 18000
    ink=$(xs_count white "144x16+$((CX - 50))+$CY")
    echo "white pixels of \"GaMe OvEr\": $ink"
    ((ink > 100)) || { echo "the end screen is not showing"; exit 1; }
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
    wmctrl -c 'Graph window application'
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
