#!/usr/bin/env bash
# The game's built-in leak suppressions and tools/sanitizers/lsan.supp must list the same
# entries, and an address-sanitizer build of the game must carry them: outside the harness
# nothing else tells the leak checker about leaks inside system libraries.
#   lsan_suppressions_test.sh GAME_BINARY SOURCE_ROOT
set -euo pipefail
game=$1
root=$2
built=$(grep -o '"leak:[^"\\]*' "$root/game/lsan_suppressions.cpp" | tr -d '"' | sort)
listed=$(grep '^leak:' "$root/tools/sanitizers/lsan.supp" | sort)
if [ "$built" != "$listed" ]; then
  echo "game/lsan_suppressions.cpp and tools/sanitizers/lsan.supp differ:"
  diff <(echo "$built") <(echo "$listed") || true
  exit 1
fi
# Read whole before grep: grep -q stops at the first match, and nm, cut short, fails the pipe.
symbols=$(nm "$game")
if ! grep -q ' __asan_init' <<<"$symbols"; then
  echo "the lists agree; the game is not an address-sanitizer build, so it carries none"
  exit 0
fi
grep -q ' T __lsan_default_suppressions$' <<<"$symbols" || {
  echo "an address-sanitizer build of the game without its own leak suppressions"
  exit 1
}
echo "the lists agree and the game carries them"
