# Sourced by the tools that drive the real game on a virtual X server: start an Xvfb of their
# own, start the game in a scratch directory, find its window, type keys and watch the screen.
# Everything started here is stopped when the sourcing script exits.

for tool in Xvfb xdotool xwd convert; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (tools/install-deps.sh test)" >&2; exit 1; }
done

source "$(dirname "${BASH_SOURCE[0]}")/session.sh"

# xs_start_xvfb WIDTHxHEIGHT: an Xvfb on a free display (it writes the number when ready); its
# pid in XVFB and SERVER. -noreset: a server that resets whenever its last client leaves (a look
# at the screen, a search for the window) refuses the next one for a while, the game perhaps.
xs_start_xvfb() {
  rm -f "$xs_work/display"
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp -noreset 3>"$xs_work/display" 2>"$xs_work/xvfb.log" &
  XVFB=$!
  SERVER=$XVFB
  xs_pids+=($!)
  # The number is whole once its line has ended (the server writes the line end apart).
  local number=
  for _ in $(seq 200); do
    read -r number <"$xs_work/display" && break
    number=
    sleep 0.05
  done
  [ -n "$number" ] || { echo "Xvfb did not start" >&2; cat "$xs_work/xvfb.log" >&2; exit 1; }
  export DISPLAY=":$number"
  export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
  # The server names its display a moment before it lets clients in.
  for _ in $(seq 200); do xwininfo -root >/dev/null 2>&1 && return 0; sleep 0.05; done
  echo "Xvfb on $DISPLAY lets no client in" >&2
  exit 1
}

XS_KEY_TRIES=1

XS_WINDOW_MANAGER=

# xs_start_window_manager: openbox, once it has announced itself on the root window.
xs_start_window_manager() {
  openbox >/dev/null 2>&1 &
  xs_pids+=($!)
  local _
  for _ in $(seq 200); do
    wmctrl -m >/dev/null 2>&1 && XS_WINDOW_MANAGER=openbox && return 0
    sleep 0.05
  done
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
  local _
  WINDOW=
  for _ in $(seq 600); do
    WINDOW=$(xdotool search --onlyvisible --pid "$GAME" 2>/dev/null) && break
    kill -0 "$GAME" 2>/dev/null || break
    sleep 0.1
  done
  WINDOW=${WINDOW%%$'\n'*}
  [ -n "$WINDOW" ] || { xs_no_window; exit 1; }
  # A window manager places and sizes the window as it frames it: its place is read after that.
  if [ -n "$XS_WINDOW_MANAGER" ]; then
    for _ in $(seq 200); do
      [[ $(xprop -id "$WINDOW" _NET_FRAME_EXTENTS 2>/dev/null) == *=* ]] && break
      sleep 0.05
    done
  fi
  # xwininfo, not xdotool, whose position of a framed window counts the frame twice.
  local info
  info=$(xwininfo -id "$WINDOW")
  WX=$(awk '/Absolute upper-left X:/ { print $NF }' <<<"$info")
  WY=$(awk '/Absolute upper-left Y:/ { print $NF }' <<<"$info")
  WW=$(awk '/^ *Width:/ { print $NF }' <<<"$info")
  WH=$(awk '/^ *Height:/ { print $NF }' <<<"$info")
  CX=$((WX + (WW - 1) / 2))
  CY=$((WY + (WH - 1) / 2))
}

# xs_steer_in_squares: from the countdown on, a turn every 300 ms around a 3 x 3 square, so that
# the snake keeps going until ESC. One xdotool types them all: a new X client per key would cost
# the server more than the game's drawing does. Sets STEERING.
xs_steer_in_squares() {
  local turns=() _
  for _ in $(seq 200); do turns+=(Down Left Up Right); done
  xdotool key --delay 300 "${turns[@]}" 2>/dev/null &
  STEERING=$!
  xs_pids+=("$STEERING")
}

# xs_stop_steering: the keys stop; one stopped between its press and its release would be held
# down, and the server would repeat it from then on.
xs_stop_steering() {
  kill "$STEERING" 2>/dev/null || true
  wait "$STEERING" 2>/dev/null || true
  xdotool keyup Down Left Up Right 2>/dev/null || true
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
