#!/usr/bin/env bash
# One run of the real game under valgrind's memcheck on a virtual X server: the intro, New Game,
# the snake runs into the wall, ESC on the end screen, Quit. Prints the errors found in our own
# code: memory definitely lost, and invalid reads, writes and frees, each with its stack; the
# libraries' own findings (SDL, X11, the C library) are counted but not listed. Exits 1 if any of
# ours is found. Too slow for CI: about a minute.
#   tools/valgrind.sh [BUILD_DIR]    (default: build; the game must have been built there)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${1:-build}
snake=$(realpath "$build/game/snake")
command -v valgrind >/dev/null || { echo "valgrind is not installed (tools/install-deps.sh test)" >&2; exit 1; }
. tools/lib/xsession.sh

xs_start_xvfb 1024x768
xml=$(realpath "$build")/memcheck.xml   # kept for a closer look
xs_start_game valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
  --errors-for-leak-kinds=definite --num-callers=40 --error-limit=no \
  --xml=yes --xml-file="$xml" "$snake"

# Typed during the intro, Enter waits in the key queue and starts the first game.
xs_key Return
# Slow under valgrind, so the end screen is awaited rather than timed.
xs_wait_for white "$(xs_end_screen)" 100 180 || { echo "the end screen did not show" >&2; exit 1; }
xs_back_to_menu 60 && xs_choose Quit 60 || exit 1
xs_wait_exit 180
echo "game exit code: $GAME_CODE"

python3 tools/memcheck_report.py "$xml" "$root"
