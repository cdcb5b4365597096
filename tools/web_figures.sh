#!/usr/bin/env bash
# The web build's figures, with the desktop game's in the same run as their baseline: the
# download, the first picture, the whole browser's CPU idle in the menu against a blank page, a
# menu key until the canvas changes, and CPU while a game is steered in small squares, against
# the desktop game (and its X server) on an Xvfb of the page's size steered the same way.
#   tools/web_figures.sh [SITE_DIR] [BUILD_DIR]    (defaults: dist/web, build)
set -euo pipefail
cd "$(dirname "$0")/.."
site=${1:-dist/web}
snake=$(realpath "${2:-build}/game/snake")
[ -f "$site/snake.wasm" ] || { echo "$site has no web build: run make web" >&2; exit 1; }
[ -x "$snake" ] || { echo "$snake is missing: run make build" >&2; exit 1; }
. tools/lib/xsession.sh

echo "playing the desktop game on Xvfb 1280x720 ..." >&2
xs_start_xvfb 1280x720
xs_start_game "$snake"
xs_wait_menu "${xs_menu_items[0]}" 30 || { echo "no menu" >&2; exit 1; }
xs_key Return
xs_steer_in_squares
xs_wait_play 30 || { echo "no game started" >&2; exit 1; }
server_before=$(xs_cpu_ns "$XVFB")
server_start=$(xs_now_ms)
desktop_game=$(xs_cpu_percent "$GAME" 30)
desktop_server=$(xs_cpu_since "$server_before" "$server_start" "$XVFB")
kill "$STEERING" 2>/dev/null || true
kill "$GAME" "$XVFB" 2>/dev/null || true

echo "playing the web build in headless Chromium ..." >&2
web=$(node tests/web/figures.js "$site")

python3 - "$web" "$desktop_game" "$desktop_server" <<'EOF'
import json, sys

web = json.loads(sys.argv[1])
game, server = (float(v.strip(" %")) for v in sys.argv[2:4])
mean = lambda values: sum(values) / len(values)
wasm, js = web["download"]["snake.wasm"], web["download"]["snake.js"]
idle, blank = mean(web["idleMenuPercent"]), mean(web["blankPagePercent"])
rows = [
    ("download, gzip-compressed: .wasm + .js", f"{(wasm['gzip'] + js['gzip']) / 1024:.0f} KiB",
     f"uncompressed {(wasm['bytes'] + js['bytes']) / 1024:.0f} KiB",
     f"{(wasm['gzip'] + js['gzip']) / (wasm['bytes'] + js['bytes']):.2f}×"),
    ("first picture after navigation", f"{web['firstPictureMs']:.0f} ms",
     f"the page's load event {web['loadEventMs']:.0f} ms", f"{web['firstPictureMs'] / web['loadEventMs']:.1f}×"),
    ("whole browser, idle in the menu", f"{idle:.2f} %", f"the same browser on a blank page {blank:.2f} %",
     f"{idle / blank:.2f}×"),
    ("menu key until the canvas changes (median of 20)", f"{web['keyToCanvasMs']['median']:.1f} ms", "–", "–"),
    ("whole browser, playing (a step every 100 ms)", f"{web['playingPercent']:.2f} %",
     f"the desktop game and its X server {game + server:.2f} %", f"{web['playingPercent'] / (game + server):.1f}×"),
]
print("| measure | figure | baseline, same run | ratio |")
print("|---|---|---|---|")
for row in rows:
    print("| " + " | ".join(row) + " |")
EOF
