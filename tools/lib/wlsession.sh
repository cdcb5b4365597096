# Sourced by the tools that drive the real game on a headless Wayland compositor: the same
# functions as xsession.sh, on a sway of their own with keys from wtype and pictures from grim.
# sway refuses to run as root; then it and the game run as the unprivileged user nobody, and the
# game is copied where that user can reach it. Everything started here is stopped when the
# sourcing script exits.

for tool in sway swaymsg wtype grim convert python3; do
  command -v "$tool" >/dev/null || { echo "$tool is not installed (tools/install-deps.sh test)" >&2; exit 1; }
done

source "$(dirname "${BASH_SOURCE[0]}")/session.sh"

ws_as_user=()
if [ "$(id -u)" -eq 0 ]; then
  ws_as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chown 65534:65534 "$xs_work"
fi

# xs_start_sway WIDTHxHEIGHT: sway with one headless output of that size, no window decorations;
# its pid in SERVER.
xs_start_sway() {
  local run=$xs_work/run
  mkdir -m 700 "$run"
  printf 'output HEADLESS-1 resolution %s\ndefault_border none\nxwayland disable\n' "$1" >"$run/config"
  [ ${#ws_as_user[@]} -eq 0 ] || chown -R 65534:65534 "$run"
  env -u WAYLAND_DISPLAY -u DISPLAY HOME="$run" XDG_RUNTIME_DIR="$run" WLR_BACKENDS=headless \
    WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 "${ws_as_user[@]}" sway -c "$run/config" >"$xs_work/sway.log" 2>&1 &
  SERVER=$!
  xs_pids+=($!)
  local socket=
  for _ in $(seq 200); do
    socket=$(find "$run" -maxdepth 1 -type s -name 'wayland-*' -print -quit)
    [ -n "$socket" ] && break
    sleep 0.05
  done
  [ -n "$socket" ] || { echo "sway did not start" >&2; cat "$xs_work/sway.log" >&2; exit 1; }
  export XDG_RUNTIME_DIR=$run WAYLAND_DISPLAY=$socket SDL_VIDEODRIVER=wayland
  SWAYSOCK=$(find "$run" -maxdepth 1 -type s -name 'sway-ipc.*' -print -quit)
  export SWAYSOCK
  unset DISPLAY
  export DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent
  # Without input devices the seat has no keyboard, and a client gets its keyboard only once one
  # appears, so the first keys typed would race the game's request for one. A virtual keyboard
  # that types nothing stays for the session: the game has its keyboard from the start.
  wtype -s 600000 &
  xs_pids+=($!)
  local seats=
  for _ in $(seq 200); do
    seats=$(swaymsg -t get_seats -r 2>/dev/null) || true
    [[ $seats == *'"capabilities": 2'* || $seats == *'"capabilities": 3'* ]] && return 0
    sleep 0.05
  done
  echo "no keyboard on sway's seat" >&2
  exit 1
}

# A key typed while a new keyboard's keymap settles may be lost (see xs_key): xs_press types it
# again.
XS_KEY_TRIES=4

# The game's window on the output as "X Y WIDTH HEIGHT" once it has the keyboard (keys typed
# before go nowhere), or nothing.
ws_window_geometry() {
  swaymsg -t get_tree -r 2>/dev/null | python3 -c '
import json, sys
def walk(node):
    if node.get("pid") == int(sys.argv[1]) and node.get("focused"):
        r, w = node["rect"], node["window_rect"]
        print(r["x"] + w["x"], r["y"] + w["y"], w["width"], w["height"])
        sys.exit()
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        walk(child)
walk(json.load(sys.stdin))' "$GAME"
}

# xs_start_game_without_window COMMAND...: the game run by the compositor's user in the scratch
# directory, its output in $xs_work/out and err; sets GAME (the pid).
xs_start_game_without_window() {
  local binary=$xs_work/bin/$(basename "$1")
  mkdir -p "$xs_work/bin" && cp "$1" "$binary" && chmod 755 "$xs_work/bin" "$binary"
  shift
  (cd "$xs_work" && exec "${ws_as_user[@]}" "$binary" "$@" </dev/null >"$xs_work/out" 2>"$xs_work/err") &
  GAME=$!
  xs_pids+=("$GAME")
  GAME_STARTED=$(xs_now_ms)
}

# xs_start_game COMMAND...: as in xsession.sh.
xs_start_game() {
  xs_start_game_without_window "$@"
  local geometry=
  for _ in $(seq 600); do
    geometry=$(ws_window_geometry)
    [ -n "$geometry" ] && break
    kill -0 "$GAME" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$geometry" ] || { xs_no_window; exit 1; }
  read -r WX WY WW WH <<<"$geometry"
  CX=$((WX + (WW - 1) / 2))
  CY=$((WY + (WH - 1) / 2))
}

# Each wtype is a new keyboard whose keymap the compositor sends a moment after it appears; SDL
# 2.26 misreads a key that comes after a new keymap but before any modifier state, so the keymap
# settles and a modifier state goes first.
xs_key() {
  local keys=()
  for key in "$@"; do keys+=(-k "$key"); done
  wtype -s 300 -M shift -m shift "${keys[@]}"
}

# xs_steer_in_squares, xs_stop_steering: as in xsession.sh; one wtype types them all. A keyboard
# that goes away has its keys let go by the compositor.
xs_steer_in_squares() {
  local args=(-s 300 -M shift -m shift) _
  for _ in $(seq 200); do args+=(-k Down -s 300 -k Left -s 300 -k Up -s 300 -k Right -s 300); done
  wtype "${args[@]}" &
  STEERING=$!
  xs_pids+=("$STEERING")
}

xs_stop_steering() {
  kill "$STEERING" 2>/dev/null || true
  wait "$STEERING" 2>/dev/null || true
}

# xs_close: the compositor asks the window to close, as its close button or shortcut would.
xs_close() {
  swaymsg "[pid=$GAME] kill" >/dev/null
}

# xs_count COLOUR GEOMETRY: as in xsession.sh, read through grim.
xs_count() {
  local size=${2%%+*} rest=${2#*+}
  grim -t ppm -g "${rest%%+*},${rest#*+} $size" - | convert ppm:- -fill black +opaque "$1" \
    -fill white -opaque "$1" -format '%[fx:round(mean*w*h)]' info:
}
