#!/usr/bin/env bash
# Starts the Windows game under Wine COUNT times in a row on an Xvfb of its own; each launch must
# reach the menu and quit cleanly (Down, Down, Down, Return: exit code 0). A launch that does not
# reach the menu or does not end is a hang: its CPU over two seconds is printed (a lost wake-up
# sleeps at 0 %), it is killed and counted. Also prints the time from launch to window.
#   launches.sh BUILD_DIR SNAKE_EXE COUNT [LINUX_SNAKE]
# BUILD_DIR is the Windows build folder (its Wine prefix and SDL2.dll). With LINUX_SNAKE, every
# launch under Wine is followed by one of the Linux build, for its launch-to-window time beside.
# Exit code 0 when every launch passed.
set -euo pipefail
build=$(realpath "$1")
exe=$(realpath "$2")
count=$3
linux=${4:+$(realpath "$4")}
here=$(dirname "$(realpath "$0")")
source "$here/../lib/xsession.sh"

xs_start_xvfb 1280x1024
wine_run="$here/wine-run.sh"
"$wine_run" "$build" cmd /c exit 0 >/dev/null 2>&1 || true  # the prefix, made before timing
# Wine's server and services stay up between launches (until 30 s after the last), so that a
# launch measures the game's own start, as on Windows, not Wine's. The first launch is cold.
WINEPREFIX="$build/wine" wineserver -p30 2>/dev/null || true  # already up: fine

# One launch of COMMAND...: sets LAUNCH_MS (launch to window), OUTCOME and the game's exit code.
launch() {
  rm -f "$xs_work/scores.db"
  (cd "$xs_work" && exec "$@" </dev/null >"$xs_work/out" 2>"$xs_work/err") &
  GAME=$!
  local started window=""
  started=$(xs_now_ms)
  while [ -z "$window" ] && (($(xs_now_ms) - started < 60000)); do
    # Wine names its windows' class after the program; the Linux build's is the program's name.
    window=$(xdotool search --onlyvisible --class '^snake(\.exe)?$' 2>/dev/null) || true
    window=${window%%$'\n'*}
    [ -n "$window" ] || sleep 0.01
  done
  LAUNCH_MS=$(($(xs_now_ms) - started))
  OUTCOME=passed
  if [ -z "$window" ]; then
    OUTCOME="no window"
  else
    WINDOW=$window
    local X Y WIDTH HEIGHT SCREEN
    eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
    CX=$((X + (WIDTH - 1) / 2))
    CY=$((Y + (HEIGHT - 1) / 2))
    # The first item highlighted: the menu is up, after the intro's eleven seconds.
    if ! xs_wait_menu "${xs_menu_items[0]}" 40; then
      OUTCOME="hang before the menu, CPU $(xs_cpu_percent "$GAME" 2)"
    elif ! xs_choose Quit 10 2>/dev/null; then
      OUTCOME="hang in the menu, CPU $(xs_cpu_percent "$GAME" 2)"
    else
      if ! xs_wait_exit 15 2>/dev/null; then
        OUTCOME="hang after Quit, CPU $(xs_cpu_percent "$GAME" 2)"
      elif [ "$GAME_CODE" -ne 0 ]; then
        OUTCOME="exit code $GAME_CODE"
      fi
    fi
  fi
  if kill -0 "$GAME" 2>/dev/null; then
    xwd -root -silent | convert xwd:- "$shots/launch-$i.png" 2>/dev/null || true
    kill -9 "$GAME" 2>/dev/null || true
    wait "$GAME" 2>/dev/null || true
  fi
}

# What the screen showed at each launch that failed.
shots=${LAUNCH_SHOTS:-$xs_work}
mkdir -p "$shots"
passed=0 hangs=0 failed=0
wine_ms=() linux_ms=()
for i in $(seq "$count"); do
  launch "$wine_run" "$build" "$exe"
  wine_ms+=("$LAUNCH_MS")
  line="launch $i: $OUTCOME, window after $LAUNCH_MS ms under Wine"
  case "$OUTCOME" in
    passed) passed=$((passed + 1)) ;;
    hang*) hangs=$((hangs + 1)) ;;
    *) failed=$((failed + 1)) ;;
  esac
  if [ -n "$linux" ]; then
    outcome=$OUTCOME
    launch "$linux"
    linux_ms+=("$LAUNCH_MS")
    line+=", $LAUNCH_MS ms on Linux ($OUTCOME)"
    OUTCOME=$outcome
  fi
  echo "$line"
done

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
echo "launches: $count, reached the menu and quit cleanly: $passed, hangs: $hangs, other failures: $failed"
echo "launch to window, median: $(median "${wine_ms[@]}") ms under Wine" \
  "${linux:+, $(median "${linux_ms[@]}") ms on Linux}"
[ "$passed" -eq "$count" ]
