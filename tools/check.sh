#!/usr/bin/env bash
# Builds the game and its tests twice more, once with the address and undefined-behaviour
# sanitizers (build-asan) and once with the thread sanitizer (build-tsan), and runs in each the
# in-process suite and the real-window tests under Xvfb (not those on Wayland: see below). A single
# sanitizer report from any of our processes fails the run, even one whose exit code a test does
# not look at: address, leak and thread reports are written to log files, undefined-behaviour
# reports (which go to stderr whatever the options say when combined with the address sanitizer)
# are looked for in the output ctest kept of every test, and anything found is printed and
# counted as a failure.
#   tools/check.sh [asan|tsan]...   (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${JOBS:-$(nproc)}
supp=$root/tools/sanitizers
trees=("$@")
[ ${#trees[@]} -gt 0 ] || trees=(asan tsan)

run_tree() {
  local name=$1 sanitize=$2 dir=$root/build-$1
  local logs=$dir/sanitizer-logs
  echo "== $name: -fsanitize=$sanitize"
  # Benchmarks are not run here; leaving them out saves a third of the build.
  [ -f "$dir/build.ninja" ] ||
    cmake -S . -B "$dir" -G Ninja -DSANITIZE="$sanitize" -DSNAKE_BENCH=OFF -DSNAKE_TESTS=ON >/dev/null
  cmake --build "$dir" -j "$jobs"
  rm -rf "$logs" && mkdir -p "$logs"

  local status=0
  (
    # halt_on_error: the first report ends the process with a failing code.
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1:log_path=$logs/asan"
    export LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1:exitcode=87"
    export TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1:suppressions=$supp/tsan.supp:log_path=$logs/tsan"
    # Not the Wayland tests: there the picture goes through Mesa's EGL and GL driver, which is
    # not instrumented, is loaded and unloaded at run time, and leaves leak reports that no narrow
    # suppression can name. What they run of ours beyond the X11 tests is one present route.
    cd "$dir" && ctest --output-on-failure -j "$jobs" -LE wayland
  ) || status=$?

  if [ -n "$(ls -A "$logs")" ]; then
    for log in "$logs"/*; do
      echo "---- $log"
      cat "$log"
    done
    echo "$name: sanitizer reports above"
    status=1
  fi
  if grep -E -A20 'runtime error:|ERROR: [A-Za-z]+Sanitizer|WARNING: ThreadSanitizer' \
    "$dir"/Testing/Temporary/LastTest*.log; then
    echo "$name: sanitizer reports above, in the output of a test"
    status=1
  fi
  [ $status -eq 0 ] && echo "== $name: clean"
  return $status
}

failed=0
for tree in "${trees[@]}"; do
  case "$tree" in
    asan) run_tree asan address,undefined || failed=1 ;;
    tsan) run_tree tsan thread || failed=1 ;;
    *) echo "unknown tree $tree (asan or tsan)"; exit 2 ;;
  esac
done
exit $failed
