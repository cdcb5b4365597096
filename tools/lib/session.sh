# Sourced by the session helpers of each display system (xsession.sh, wlsession.sh): a scratch
# directory, the clock, waiting for the game, its CPU use and what it shows where. Everything
# started and listed in xs_pids is stopped when the sourcing script exits. The display part
# provides xs_start_game (setting GAME, CX, CY), xs_key and xs_count.

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

# xs_cpu_ns PID: the CPU time its threads have run so far, in nanoseconds (the scheduler's own
# count: the clock-tick figures of /proc/PID/stat are too coarse for a tenth of a percent).
xs_cpu_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ ns += $1 } END { printf "%d", ns }'; }

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
