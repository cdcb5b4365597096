# Sourced by the tools that drive the real game on a virtual X server: start an Xvfb of their
# own, start the game in a scratch directory, find its window, type keys and watch the screen.
# Everything started here is stopped when the sourcing script exits.

for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (tools/install-deps.sh test)" >&2; exit 1; }
done

source "$(dirname "${BASH_SOURCE[0]}")/session.sh"

# xs_start_xvfb WIDTHxHEIGHT: an Xvfb on a free display (it writes the number when ready); its
# pid in XVFB.
xs_start_xvfb() {
  rm -f "$xs_work/display"
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$xs_work/display" 2>"$xs_work/xvfb.log" &
  XVFB=$!
  xs_pids+=($!)
  for _ in $(seq 200); do [ -s "$xs_work/display" ] && break; sleep 0.05; done
  [ -s "$xs_work/display" ] || { echo "Xvfb did not start" >&2; cat "$xs_work/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$xs_work/display")"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
}

XS_KEY_TRIES=1

# xs_start_window_manager: openbox, once it has announced itself on the root window.
xs_start_window_manager() {
  openbox >/dev/null 2>&1 &
  xs_pids+=($!)
  local _
  for _ in $(seq 200); do wmctrl -m >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "openbox did not start" >&2
  exit 1
}

# xs_start_game COMMAND...: runs the game in the scratch directory (so that no score file of the
# caller's is touched), its output in $xs_work/out and err; sets GAME (the pid) and WINDOW (the
# shown window of that process: the game, or a program it is run by in the same process, such as
# valgrind or the launcher, which execs it), and the window's centre in absolute screen
# coordinates as CX, CY.
xs_start_game() {
  (cd "$xs_work" && exec "$@" </dev/null >"$xs_work/out" 2>"$xs_work/err") &
  GAME=$!
  xs_pids+=("$GAME")
  GAME_STARTED=$(xs_now_ms)
  WINDOW=$(timeout 60 xdotool search --sync --onlyvisible --pid "$GAME") || true
  WINDOW=${WINDOW%%$'\n'*}
  [ -n "$WINDOW" ] || { echo "no game window" >&2; cat "$xs_work/err" >&2; exit 1; }
  local X Y WIDTH HEIGHT SCREEN
  eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
  CX=$((X + (WIDTH - 1) / 2))
  CY=$((Y + (HEIGHT - 1) / 2))
  WX=$X WY=$Y WW=$WIDTH WH=$HEIGHT
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

# xs_close: the window manager closes the window, as its close button would.
xs_close() {
  wmctrl -i -c "$WINDOW"
}
