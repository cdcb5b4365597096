#!/usr/bin/env bash
# Checks the project's own scripts: every Python file with pyflakes, every shell script's syntax
# with bash -n, and no pipe into a reader that may stop before the end of its input (grep -q,
# grep -l, grep -m, head). Under pipefail the writer then dies of SIGPIPE and the pipeline fails
# although the reader found what it looked for; such output is read whole first instead.
#   tools/lint.sh [SOURCE_ROOT]    (default: this checkout)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
command -v pyflakes3 >/dev/null ||
  { echo "skipped: pyflakes3 is not installed (tools/install-deps.sh test)"; exit 77; }

# Not the packages npm installs for the web test (tests/web/node_modules): not the project's own.
mapfile -t python < <(find tools tests -name node_modules -prune -o -name '*.py' -print | sort)
mapfile -t shell < <(find tools tests .ci -name node_modules -prune -o \( -name '*.sh' -o -path .ci/run \) -print | sort)
failed=0

pyflakes3 "${python[@]}" || failed=1
for script in "${shell[@]}"; do
  bash -n "$script" || failed=1
done
# A pipe (not ||) into head or grep with -q, -l or -m, outside comments.
early='(^|[^|])\|[[:space:]]*(head|grep([[:space:]]+-[[:alnum:]]+)*[[:space:]]+-[[:alnum:]]*[qlm])([[:space:]]|$)'
if grep -nE "^[^#]*$early" "${shell[@]}"; then
  echo "a pipe above ends in a reader that may stop early: read the output whole first"
  failed=1
fi

[ $failed -eq 0 ] && echo "${#python[@]} Python and ${#shell[@]} shell scripts checked"
exit $failed
