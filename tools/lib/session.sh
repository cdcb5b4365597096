# Sourced by the session helpers of each display system (xsession.sh, wlsession.sh): a scratch
# directory, the clock, waiting for the game, its CPU use, what it shows where and its menu.
# Everything started and listed in xs_pids is stopped when the sourcing script exits. The display
# part provides xs_start_game (setting GAME, CX, CY), xs_key, xs_count and XS_KEY_TRIES.

xs_work=$(mktemp -d)
xs_pids=()
xs_cleanup() {
  for pid in "${xs_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$xs_work"
}
trap xs_cleanup EXIT

xs_now_ms() { local t=${EPOCHREALTIME/./}; echo $((10#$t / 1000)); }

# xs_sleep_until MS: until MS milliseconds after the game started.
xs_sleep_until() {
  local left=$(($1 - ($(xs_now_ms) - GAME_STARTED)))
  ((left > 0)) && sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))"
  true
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

# The game's pixels are XS_SCALE screen pixels wide (the game's SNAKE_GARDEN_SCALE, or the
# desktop's): the places below are in the game's pixels from the centre, times the scale.
XS_SCALE=${XS_SCALE:-1}

# The end screen's "Press esc ..." line in white: nothing else white is ever drawn there.
xs_end_screen() {
  local s=$XS_SCALE
  echo "$((208 * s))x$((16 * s))+$((CX - 50 * s))+$((CY + 40 * s))"
}

# The countdown's digits, yellow at the centre, as a game starts: nothing yellow is drawn there
# before (the intro's letters are of other colours).
xs_countdown() { echo "$((16 * XS_SCALE))x$((16 * XS_SCALE))+$CX+$CY"; }
xs_yellow='rgb(252,252,0)'

# xs_wait_play SECONDS: until a game's first step is drawn: the left side of the board's frame
# (colour 19, three pixels wide, 150 left of the centre), which only a game draws.
xs_wait_play() {
  local s=$XS_SCALE
  xs_wait_for 'rgb(44,44,44)' "$((3 * s))x$((200 * s))+$((CX - 151 * s))+$((CY - 100 * s))" 100 "$1"
}

# The menu's items, top to bottom; the chosen one is drawn in light blue at size 3.
mapfile -t xs_menu_items < <(grep -v '^#' "$(dirname "${BASH_SOURCE[0]}")/menu_items.txt")
xs_light_blue='rgb(84,84,252)'

# xs_menu_item NAME: where the item stands when it is chosen, as WxH+X+Y. Item I of the list
# starts half its character count left of the centre, 25 * I pixels below it.
xs_menu_item() {
  local i
  for i in "${!xs_menu_items[@]}"; do
    if [ "${xs_menu_items[i]}" = "$1" ]; then
      local s=$XS_SCALE
      echo "$((24 * ${#1} * s))x$((24 * s))+$((CX - ${#1} / 2 * s))+$((CY + 25 * (i + 1) * s))"
      return 0
    fi
  done
  echo "no menu item \"$1\"" >&2
  return 1
}

# xs_press KEY COLOUR GEOMETRY [SECONDS]: types the key, then waits up to SECONDS (default 5) for
# the rectangle to show more than 100 pixels of the colour. Where a key may be lost (Wayland, see
# wlsession.sh) it is typed again, up to XS_KEY_TRIES times.
xs_press() {
  local _
  for _ in $(seq "$XS_KEY_TRIES"); do
    xs_key "$1"
    xs_wait_for "$2" "$3" 100 "${4:-5}" && return 0
  done
  echo "no effect of $1" >&2
  return 1
}

# xs_wait_menu NAME SECONDS: until the menu shows with NAME chosen.
xs_wait_menu() { xs_wait_for "$xs_light_blue" "$(xs_menu_item "$1")" 100 "$2"; }

# xs_choose NAME [SECONDS]: from the menu with its first item chosen, Down until NAME is; then
# Return. The menu keeps only the last of the keys waiting, so each key waits for the highlight
# it brings.
xs_choose() {
  local item
  xs_menu_item "$1" >/dev/null || return 1
  if [ "$1" != "${xs_menu_items[0]}" ]; then
    for item in "${xs_menu_items[@]:1}"; do
      xs_press Down "$xs_light_blue" "$(xs_menu_item "$item")" "${2:-5}" || return 1
      [ "$item" = "$1" ] && break
    done
  fi
  xs_key Return
}

# xs_back_to_menu [SECONDS]: ESC on the end screen, until the menu shows with its first item chosen.
xs_back_to_menu() { xs_press Escape "$xs_light_blue" "$(xs_menu_item "${xs_menu_items[0]}")" "${1:-5}"; }

# xs_no_window: says why the game shows no window: it ended (with what code), or it runs without
# one; and what it wrote on standard error.
xs_no_window() {
  if kill -0 "$GAME" 2>/dev/null; then
    echo "no game window" >&2
  else
    local code=0
    wait "$GAME" || code=$?
    echo "no game window: the game ended with code $code" >&2
  fi
  cat "$xs_work/out" "$xs_work/err" >&2
}

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

# xs_cpu_ns PID: the CPU time its threads have run so far, in nanoseconds (the scheduler's own
# count: the clock-tick figures of /proc/PID/stat are too coarse for a tenth of a percent).
xs_cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%.0f", ns }'; }

# xs_cpu_since NS MS PID: % of one core that PID used since xs_cpu_ns gave NS at xs_now_ms MS.
xs_cpu_since() {
  awk -v ns=$(($(xs_cpu_ns "$3") - $1)) -v ms=$(($(xs_now_ms) - $2)) \
    'BEGIN { printf "%.2f %%", 100 * ns / 1e6 / ms }'
}

# xs_cpu_percent PID SECONDS: the process's CPU use over the next SECONDS, in % of one core.
xs_cpu_percent() {
  local before start
  before=$(xs_cpu_ns "$1")
  start=$(xs_now_ms)
  sleep "$2"
  xs_cpu_since "$before" "$start" "$1"
}
