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

for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
done
if [ "$scenario" = close ]; then
  for tool in openbox wmctrl; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool is not installed"; exit $skip; }
  done
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number when it is ready.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; exit 1; }
export DISPLAY=":$(head -n1 "$work/display")"
export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent

if [ "$scenario" = close ]; then
  openbox >/dev/null 2>&1 &
  pids+=($!)
  sleep 1
fi

now_ms() { local t=${EPOCHREALTIME/./}; echo $(( 10#$t / 1000 )); }

cd "$work"
"$snake" </dev/null >"$work/out" 2>"$work/err" &
game=$!
pids+=($game)
started=$(now_ms)

window=$(timeout 10 xdotool search --sync --name '^Graph window application$' | head -n1)
[ -n "$window" ] || { echo "no game window"; cat "$work/out" "$work/err"; exit 1; }

# Milliseconds since the game started.
since() { echo $(( $(now_ms) - started )); }
wait_until() {
  local left=$(( $1 - $(since) ))
  (( left > 0 )) && sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))"
  true
}
key() { xdotool windowfocus "$window" 2>/dev/null || true; xdotool key "$@"; }
# White pixels (colour 15 text) in a rectangle of the screen.
white_pixels() {
  xwd -root -silent | convert xwd:- -crop "$1" +repage -fill black +opaque white \
    -fill white -opaque white -format '%[fx:round(mean*w*h)]' info:
}
finish() {
  for _ in $(seq 100); do kill -0 "$game" 2>/dev/null || break; sleep 0.05; done
  if kill -0 "$game" 2>/dev/null; then echo "the game did not end"; exit 1; fi
  set +e; wait "$game"; code=$?; set -e
  echo "exit code $code"; cat "$work/out"
  [ "$code" -eq 0 ] || { cat "$work/err"; exit 1; }
}

# Enter typed during the intro waits in the key queue and starts a game from the first menu.
key Return

geometry=$(xdotool getwindowgeometry --shell "$window")
eval "$geometry"
mx2=$(( X + (WIDTH - 1) / 2 )); my2=$(( Y + (HEIGHT - 1) / 2 ))

case "$scenario" in
  quit)
    # 11 s intro, 4.5 s countdown, ten ticks of about 100 ms: the end screen is up by 17.5 s.
    wait_until 18000
    ink=$(white_pixels "144x16+$((mx2 - 50))+$my2")
    echo "white pixels of \"GaMe OvEr\": $ink"
    (( ink > 100 )) || { echo "the end screen is not showing"; exit 1; }
    key Escape; sleep 0.3
    for _ in 1 2 3; do key Down; sleep 0.3; done
    key Return
    finish
    grep -q 'Enter your name' "$work/out" && { echo "a name was asked"; exit 1; }
    [ ! -e "$work/scores.db" ] || { echo "scores.db was written"; exit 1; }
    ;;
  close)
    wait_until 16200
    closed=$(since)
    wmctrl -c 'Graph window application'
    finish
    echo "ended $(( $(since) - closed )) ms after the close"
    if grep -q 'Enter your name' "$work/out"; then
      [ -s "$work/scores.db" ] || { echo "the game scored but nothing was recorded"; exit 1; }
    else
      [ ! -e "$work/scores.db" ] || { echo "scores.db written without a score"; exit 1; }
    fi
    ;;
  *) echo "unknown scenario $scenario"; exit 2 ;;
esac
echo "passed"
