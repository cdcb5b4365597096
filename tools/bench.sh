#!/usr/bin/env bash
# The figures: the benchmarks (snake_bench), the real window's present latency (window_bench) and
# the real game's CPU use (and the X server's) and peak memory on a virtual X server at two sizes,
# half-drawn menu pictures and key-to-screen latency (menu_probe), printed as one Markdown table
# with the machine it ran on. Each figure comes with its baseline from the same run; with
# BASELINE_SNAKE set to another build of the game, that build is measured in the same run too.
#   tools/bench.sh [BUILD_DIR]    (default: build, configured with the benchmarks)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
bench=$build/bench/snake_bench
window_bench=$build/bench/window_bench
snake=$(realpath "$build/game/snake")
for program in "$bench" "$window_bench" "$snake"; do
  [ -x "$program" ] || { echo "$program is missing: build with the benchmarks first" >&2; exit 1; }
done
. tools/lib/xsession.sh

echo "running snake_bench ..." >&2
"$bench" --benchmark_out="$xs_work/bench.json" --benchmark_out_format=json >&2
# The instructions of one game step on the program's thread, counted by callgrind: the figure
# that the machine's load does not move.
: >"$xs_work/step.txt"
if command -v valgrind >/dev/null && command -v callgrind_annotate >/dev/null; then
  echo "counting a step's instructions under callgrind ..." >&2
  valgrind --tool=callgrind --callgrind-out-file="$xs_work/step.cg" "$bench" \
    --benchmark_filter='BM_GameTick/3$' --benchmark_min_time=0.05 >/dev/null 2>&1
  callgrind_annotate --inclusive=yes "$xs_work/step.cg" 2>/dev/null |
    awk '/=> .*PlayOneStep/ && !found { gsub(",", "", $1); n = $NF; gsub("[(x,)]", "", n)
                                        print $1 / n; found = 1 }' >"$xs_work/step.txt"
fi
echo "running window_bench ..." >&2
"$window_bench" | tee "$xs_work/window.txt" >&2
# The same benchmark on a headless sway, where one is installed; its pixels are read with grim.
if command -v sway >/dev/null && command -v grim >/dev/null; then
  echo "running window_bench wayland ..." >&2
  "$window_bench" wayland | tee -a "$xs_work/window.txt" >&2
fi

# cpu_while_steering: the game's and the display server's CPU over the next 30 s, long enough
# that a tenth of a percent is well above what a few stray wakes add; then stops the steering.
# Sets STEERED_GAME and STEERED_SERVER.
cpu_while_steering() {
  local server_before server_start
  server_before=$(xs_cpu_ns "$SERVER")
  server_start=$(xs_now_ms)
  STEERED_GAME=$(xs_cpu_percent "$GAME" 30)
  STEERED_SERVER=$(xs_cpu_since "$server_before" "$server_start" "$SERVER")
  xs_stop_steering
}

# play_cpu: from the menu, starts a game, measures the game's and the server's CPU while it
# plays (from its first step on), and ends it with ESC. Prints them as game= and server=.
play_cpu() {
  xs_key Return
  xs_steer_in_squares
  xs_wait_play 30 || { echo "no game started" >&2; exit 1; }
  cpu_while_steering
  echo "game=$STEERED_GAME"
  echo "server=$STEERED_SERVER"
  # The figure is a game's only if the snake was still going when it was taken.
  (($(xs_count white "$(xs_end_screen)") == 0)) || { echo "the snake died before ESC" >&2; exit 1; }
  # A steering key still on its way may come after ESC in the same step and cancel it.
  local _
  # A loaded machine takes seconds to read the screen back: wait longer, try more often.
  for _ in 1 2 3 4 5; do
    xs_key Escape
    xs_wait_for white "$(xs_end_screen)" 100 8 && return 0
  done
  echo "the game did not end on ESC" >&2
  exit 1
}

# keys_cpu: on the end screen, where nothing ticks and every key but ESC is dropped, the same
# steering keys as in play_cpu for as long: the game's and the server's CPU for the keys alone,
# printed as keys_game= and keys_server=.
keys_cpu() {
  xs_steer_in_squares
  sleep 1
  cpu_while_steering
  echo "keys_game=$STEERED_GAME"
  echo "keys_server=$STEERED_SERVER"
  sleep 0.5
}

quit_game() {
  xs_back_to_menu && xs_choose Quit || exit 1
  xs_wait_exit 10
  [ "$GAME_CODE" -eq 0 ] || { echo "the game ended with code $GAME_CODE" >&2; exit 1; }
  kill "$SERVER" 2>/dev/null || true
  wait "$SERVER" 2>/dev/null || true
}

# session GAME SCREEN FULL: one run of a game binary on an Xvfb of that size; FULL=1 takes every
# figure, else only the CPU of playing. Prints "name=value" lines.
session() {
  local game=$1 size=$2 full=$3
  echo "playing $game on Xvfb $size ..." >&2
  xs_start_xvfb "$size"
  xs_start_game "$game"
  if ((full)); then
    # The intro runs 11 s from the window's opening: letters appear between 2 s and 8.6 s. Its
    # figure is 10 s of it from half a second after the start.
    xs_sleep_until 500
    echo "intro=$(xs_cpu_percent "$GAME" 10)"
  fi
  xs_wait_menu "New Game" 30 || { echo "no menu after the intro" >&2; exit 1; }
  if ((full)); then
    echo "menu=$(xs_cpu_percent "$GAME" 5)"
    # One round through the menu before the probe: it starts from a menu that has taken keys.
    xs_press Down "$xs_light_blue" "$(xs_menu_item Controls)" &&
      xs_press Up "$xs_light_blue" "$(xs_menu_item "New Game")" || exit 1
    echo "probe=$("$menu_probe" "$WINDOW" 200 | tr -d '\n')"
  fi
  play_cpu
  keys_cpu
  if ((full)); then
    echo "end=$(xs_cpu_percent "$GAME" 5)"
    echo "peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$GAME/status")"
  fi
  quit_game
}

# wayland_session GAME SCREEN: the CPU of playing and of the keys alone, on a headless sway of
# that size, the compositor in the place of the X server. Its own helpers replace the X ones in
# the subshell it runs in.
wayland_session() {
  . tools/lib/wlsession.sh
  echo "playing $1 on headless sway $2 ..." >&2
  xs_start_sway "$2"
  xs_start_game "$1"
  xs_wait_menu "New Game" 30 || { echo "no menu after the intro" >&2; exit 1; }
  play_cpu
  keys_cpu
  quit_game
}

# measure SESSION ARGS... OUT: a session into OUT; one that fails on a loaded machine (an ESC
# lost among the steering keys) runs once more, after stopping what the failed one started.
measure() {
  local attempt out=${*: -1}
  for attempt in 1 2; do
    if (trap 'for pid in "${xs_pids[@]}"; do kill "$pid" 2>/dev/null || true; done' EXIT
        "${@:1:$#-1}" >"$out"); then
      return 0
    fi
    echo "$1 of $2 at $3 failed (attempt $attempt)" >&2
  done
  return 1
}

menu_probe=$build/bench/menu_probe
[ -x "$menu_probe" ] || { echo "$menu_probe is missing: build with the benchmarks first" >&2; exit 1; }
# BASELINE_SNAKE: another build of the game, measured in the same run for comparison.
measure session "$snake" 1920x1080 1 "$xs_work/new_big.txt"
measure session "$snake" 640x480 0 "$xs_work/new_small.txt"
: >"$xs_work/old_big.txt"
: >"$xs_work/old_small.txt"
: >"$xs_work/new_wayland.txt"
: >"$xs_work/old_wayland.txt"
if [ -n "${BASELINE_SNAKE:-}" ]; then
  measure session "$(realpath "$BASELINE_SNAKE")" 1920x1080 1 "$xs_work/old_big.txt"
  measure session "$(realpath "$BASELINE_SNAKE")" 640x480 0 "$xs_work/old_small.txt"
fi
if command -v sway >/dev/null && command -v wtype >/dev/null && command -v grim >/dev/null; then
  measure wayland_session "$snake" 1920x1080 "$xs_work/new_wayland.txt"
  if [ -n "${BASELINE_SNAKE:-}" ]; then
    measure wayland_session "$(realpath "$BASELINE_SNAKE")" 1920x1080 "$xs_work/old_wayland.txt"
  fi
fi

cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
python3 tools/bench_table.py "$xs_work/bench.json" "$xs_work/window.txt" "$(nproc)" "$cpu_model" "$xs_work"
