#!/usr/bin/env bash
# A score earned through the launcher of the unpacked .deb, with HOME in a scratch directory, lands
# in the player's directory and is listed by the next start (high_score_e2e.py does the playing).
#   high_score_installed.sh PACKAGE_DIR VERSION PYTHON
set -euo pipefail
dir=$1 version=$2 python=$3
command -v dpkg-deb >/dev/null || { echo "skipped: dpkg-deb is not installed"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
dpkg-deb -x "$dir/snake-garden_${version}_$(dpkg --print-architecture).deb" "$work/root"
export HOME=$work/home
unset XDG_DATA_HOME
mkdir -p "$HOME"
"$python" "$(dirname "$0")/../e2e/high_score_e2e.py" --table-dir "$HOME/.local/share/snake-garden" \
  "$work/root/usr/games/snake-garden"
