#!/usr/bin/env bash
# Runs the in-process suite under Wine: run-suite.sh BUILD_DIR SUITE [ARGS...].
#
# While a death test's child runs, GoogleTest keeps the parent's standard error in a file of
# the temporary folder (gte*.tmp) and deletes it once the child is judged. A parent that dies
# there leaves nothing of why in the output: its last words went into that file, which stays.
# Under Wine 8 the suite has died so, now and then, with nothing of ours at fault: Wine failed
# to start a death test's child, and GoogleTest's check on CreateProcess ended the parent. So a
# suite that dies inside a death test shows what the file holds and is run once more; any
# other failure, and a second death, is the suite's result.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
users="$build/wine/drive_c/users"
suite=$2

# Runs the suite; 0 if it passed, 2 if it died inside a death test (shown), 1 otherwise.
run_once() {
  local since status
  since=$(mktemp)
  "$here/wine-run.sh" "$@"
  status=$?
  local left=()
  if [ "$status" -ne 0 ] && [ -d "$users" ]; then
    mapfile -t left < <(find "$users" -path '*/Temp/gte*.tmp' -newer "$since" 2>/dev/null)
  fi
  rm -f "$since"
  [ "$status" -eq 0 ] && return 0
  [ "${#left[@]}" -eq 0 ] && return 1
  echo "run-suite: the suite died inside a death test (exit $status); what it wrote there:"
  for file in "${left[@]}"; do
    sed 's/^/  | /' "$file"
    rm -f "$file"
  done
  # A child the dead parent was starting can wait for it for good, holding the test's output
  # open.
  pkill -KILL -f -- "${suite##*/}.*--gtest_internal_run_death_test=" 2>/dev/null
  return 2
}

run_once "$@"
case $? in
  0) exit 0 ;;
  1) exit 1 ;;
esac
echo "run-suite: running the suite once more"
run_once "$@"
