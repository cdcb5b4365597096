# Sourced by the tools that drive the real game on a virtual X server: start an Xvfb of their
# own, start the game in a scratch directory, find its window, type keys and watch the screen.
# Everything started here is stopped when the sourcing script exits.

for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (tools/install-deps.sh test)" >&2; exit 1; }
done

xs_work=$(mktemp -d)
xs_pids=()
xs_cleanup() {
  for pid in "${xs_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$xs_work"
}
trap xs_cleanup EXIT

# xs_start_xvfb WIDTHxHEIGHT: an Xvfb on a free display (it writes the number when ready).
xs_start_xvfb() {
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$xs_work/display" 2>"$xs_work/xvfb.log" &
  xs_pids+=($!)
  for _ in $(seq 200); do [ -s "$xs_work/display" ] && break; sleep 0.05; done
  [ -s "$xs_work/display" ] || { echo "Xvfb did not start" >&2; cat "$xs_work/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$xs_work/display")"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
}

# xs_start_game COMMAND...: runs the game in the scratch directory (so that no score file of the
# caller's is touched), its output in $xs_work/out and err; sets GAME (the pid) and WINDOW, and
# the window's centre in absolute screen coordinates as CX, CY.
xs_start_game() {
  (cd "$xs_work" && exec "$@" </dev/null >"$xs_work/out" 2>"$xs_work/err") &
  GAME=$!
  xs_pids+=("$GAME")
  GAME_STARTED=$(xs_now_ms)
  WINDOW=$(timeout 60 xdotool search --sync --name '^Graph window application$' | head -n1) || true
  [ -n "$WINDOW" ] || { echo "no game window" >&2; cat "$xs_work/err" >&2; exit 1; }
  local X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
  CX=$((X + (WIDTH - 1) / 2))
  CY=$((Y + (HEIGHT - 1) / 2))
  WX=$X WY=$Y WW=$WIDTH WH=$HEIGHT
}

xs_now_ms() { local t=${EPOCHREALTIME/./}; echo $((10#$t / 1000)); }

# xs_sleep_until MS: until MS milliseconds after the game started.
xs_sleep_until() {
  local left=$(($1 - ($(xs_now_ms) - GAME_STARTED)))
  ((left > 0)) && sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))"
  true
}

xs_key() {
  xdotool windowfocus "$WINDOW" 2>/dev/null || true
  xdotool key "$@"
}

# xs_count COLOUR GEOMETRY: pixels of exactly this colour (an ImageMagick colour name) in a
# rectangle of the screen given as WxH+X+Y. Read through xwd, colour 15 comes out as "white".
xs_count() {
  xwd -root -silent | convert xwd:- -crop "$2" +repage -fill black +opaque "$1" \
    -fill white -opaque "$1" -format '%[fx:round(mean*w*h)]' info:
}

# xs_wait_for COLOUR GEOMETRY MINIMUM SECONDS: until the rectangle shows more than MINIMUM pixels
# of the colour; fails after SECONDS.
xs_wait_for() {
  local deadline=$(($(xs_now_ms) + $4 * 1000))
  while (($(xs_now_ms) < deadline)); do
    (($(xs_count "$1" "$2") > $3)) && return 0
    sleep 0.25
  done
  return 1
}

# The end screen's "Press esc ..." line in white: nothing else white is ever drawn there.
xs_end_screen() { echo "208x16+$((CX - 50))+$((CY + 40))"; }

# xs_wait_exit SECONDS: waits for the game to end and sets GAME_CODE; fails if it does not.
xs_wait_exit() {
  local deadline=$(($(xs_now_ms) + $1 * 1000))
  while kill -0 "$GAME" 2>/dev/null && (($(xs_now_ms) < deadline)); do sleep 0.1; done
  kill -0 "$GAME" 2>/dev/null && { echo "the game did not end" >&2; return 1; }
  set +e
  wait "$GAME"
  GAME_CODE=$?
  set -e
}

# xs_cpu_ticks PID: user + system time so far, in clock ticks.
xs_cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# xs_cpu_percent PID SECONDS: the process's CPU use over the next SECONDS, in % of one core;
# "< N %" when it used less than the clock tick the kernel counts in.
xs_cpu_percent() {
  local hz before after start end
  hz=$(getconf CLK_TCK)
  before=$(xs_cpu_ticks "$1")
  start=$(xs_now_ms)
  sleep "$2"
  after=$(xs_cpu_ticks "$1")
  end=$(xs_now_ms)
  awk -v t=$((after - before)) -v hz="$hz" -v ms=$((end - start)) \
    'BEGIN { if (t == 0) printf "< %.2f %%", 100 / hz / (ms / 1000); else printf "%.2f %%", 100 * t / hz / (ms / 1000) }'
}
