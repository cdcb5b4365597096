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
echo "running window_bench ..." >&2
"$window_bench" | tee "$xs_work/window.txt" >&2
# The same benchmark on a headless sway, where one is installed; its pixels are read with grim.
if command -v sway >/dev/null && command -v grim >/dev/null; then
  echo "running window_bench wayland ..." >&2
  "$window_bench" wayland | tee -a "$xs_work/window.txt" >&2
fi

# steer_in_squares: from the countdown on, a turn every 300 ms around a 3 x 3 square, so that the
# snake keeps going until ESC. One xdotool types them all: a new X client per key would cost the
# server more than the game's drawing does. Sets STEERING.
steer_in_squares() {
  local turns=() _
  for _ in $(seq 200); do turns+=(Down Left Up Right); done
  xdotool key --delay 300 "${turns[@]}" 2>/dev/null &
  STEERING=$!
  xs_pids+=("$STEERING")
}

# play_cpu: from the menu, starts a game, measures the game's and the X server's CPU while it
# plays, and ends it with ESC. Sets CPU_GAME and CPU_SERVER.
play_cpu() {
  xs_key Return
  steer_in_squares
  sleep 5.5
  local server_before server_start
  server_before=$(xs_cpu_ns "$XVFB")
  server_start=$(xs_now_ms)
  # Long enough that a tenth of a percent is well above what a few stray wakes add.
  CPU_GAME=$(xs_cpu_percent "$GAME" 30)
  CPU_SERVER=$(xs_cpu_since "$server_before" "$server_start" "$XVFB")
  kill "$STEERING" 2>/dev/null || true
  # The figure is a game's only if the snake was still going when it was taken.
  (($(xs_count white "$(xs_end_screen)") == 0)) || { echo "the snake died before ESC" >&2; exit 1; }
  # A steering key still on its way may come after ESC in the same step and cancel it.
  local _
  for _ in 1 2 3; do
    xs_key Escape
    xs_wait_for white "$(xs_end_screen)" 100 4 && return 0
  done
  echo "the game did not end on ESC" >&2
  exit 1
}

quit_game() {
  xs_key Escape
  sleep 0.5
  for _ in 1 2 3; do xs_key Down; sleep 0.3; done
  xs_key Return
  xs_wait_exit 10
  [ "$GAME_CODE" -eq 0 ] || { echo "the game ended with code $GAME_CODE" >&2; exit 1; }
  kill "$XVFB" 2>/dev/null || true
  wait "$XVFB" 2>/dev/null || true
}

# session GAME SCREEN FULL: one run of a game binary on an Xvfb of that size; FULL=1 takes every
# figure, else only the CPU of playing. Prints "name=value" lines.
session() {
  local game=$1 size=$2 full=$3
  echo "playing $game on Xvfb $size ..." >&2
  xs_start_xvfb "$size"
  xs_start_game "$game"
  if ((full)); then
    # The intro runs 11 s from the window's opening: letters appear between 2 s and 8.6 s.
    xs_sleep_until 500
    echo "intro=$(xs_cpu_percent "$GAME" 10)"
    xs_sleep_until 12000
    echo "menu=$(xs_cpu_percent "$GAME" 5)"
    xs_key Down
    xs_key Up
    sleep 0.5
    echo "probe=$("$menu_probe" 200 | tr -d '\n')"
  else
    xs_sleep_until 12000
  fi
  play_cpu
  echo "game=$CPU_GAME"
  echo "server=$CPU_SERVER"
  if ((full)); then
    echo "end=$(xs_cpu_percent "$GAME" 5)"
    echo "peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$GAME/status")"
  fi
  quit_game
}

menu_probe=$build/bench/menu_probe
[ -x "$menu_probe" ] || { echo "$menu_probe is missing: build with the benchmarks first" >&2; exit 1; }
# BASELINE_SNAKE: another build of the game, measured in the same run for comparison.
session "$snake" 1920x1080 1 >"$xs_work/new_big.txt"
session "$snake" 640x480 0 >"$xs_work/new_small.txt"
: >"$xs_work/old_big.txt"
: >"$xs_work/old_small.txt"
if [ -n "${BASELINE_SNAKE:-}" ]; then
  session "$(realpath "$BASELINE_SNAKE")" 1920x1080 1 >"$xs_work/old_big.txt"
  session "$(realpath "$BASELINE_SNAKE")" 640x480 0 >"$xs_work/old_small.txt"
fi

cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
python3 - "$xs_work/bench.json" "$xs_work/window.txt" "$(nproc)" "$cpu_model" "$xs_work" <<'EOF'
import json, re, sys

bench_json, window_txt, cores, model, work = sys.argv[1:6]

def session(name):
    try:
        return dict(l.rstrip("\n").split("=", 1) for l in open(f"{work}/{name}.txt") if "=" in l)
    except FileNotFoundError:
        return {}

new_big, new_small = session("new_big"), session("new_small")
old_big, old_small = session("old_big"), session("old_small")

def percent(v):
    return float(v.strip("< %"))

def short(name):  # without the "/iterations:N" and "/manual_time" that some names carry
    return "/".join(p for p in name.split("/") if not p.startswith("iterations:") and p != "manual_time")

runs = {short(b["name"]): b for b in json.load(open(bench_json))["benchmarks"]}

def us(name):
    b = runs[name]
    scale = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}[b["time_unit"]]
    return b["real_time"] * scale

def value(name, counter):
    return runs[name][counter]

window = open(window_txt).read()
latencies = re.findall(r"present latency: median ([\d.]+) ms; one pixel read ([\d.]+) ms", window)
present = latencies[0] if latencies else None
present_wayland = latencies[1] if len(latencies) > 1 else None
idle = re.search(r"window thread idle: ([\d.]+)%", window)

rows = []
def row(what, figure, baseline, ratio):
    rows.append((what, figure, baseline, ratio))

for length in (3, 200, 360):
    name = f"BM_GameTick/{length}"
    row(f"one game step drawn, snake of {length}, 1920x1080", f"{us(name):.1f} µs",
        "the step's 100 ms", f"{us(name) / 1000:.2f} %")
row("FillEllipse r=5, solid fill", f"{us('BM_FillEllipseSolid') * 1000:.0f} ns",
    f"through the slots, a lock per pixel {us('BM_FillEllipseThroughSlots') * 1000:.0f} ns",
    f"{us('BM_FillEllipseSolid') / us('BM_FillEllipseThroughSlots'):.2f}×")
row("ClearDevice 1920x1080", f"{us('BM_ClearDevice'):.0f} µs",
    f"plain fill of the same buffer {us('BM_FillBufferBaseline'):.0f} µs",
    f"{us('BM_ClearDevice') / us('BM_FillBufferBaseline'):.2f}×")
row("FillEllipse r=5, close-dot fill", f"{us('BM_FillEllipsePattern11') * 1000:.0f} ns",
    f"solid fill {us('BM_FillEllipseSolid') * 1000:.0f} ns",
    f"{us('BM_FillEllipsePattern11') / us('BM_FillEllipseSolid'):.2f}×")
for text, size in (("Scores", 2), ("Line40", 3)):
    t, p = f"BM_OutTextXY_{text}_Size{size}", f"BM_PutPixel_{text}_Size{size}"
    label = '"Scores 123" at size 2' if text == "Scores" else "a 40-character line at size 3"
    row(f"OutTextXY, {label}", f"{us(t):.1f} µs", f"PutPixel of the same ink {us(p):.1f} µs",
        f"{us(t) / us(p):.2f}×")
row("recording a result: the merge into a full scores.db", f"{us('BM_RefreshScores'):.0f} µs",
    f"plain truncate-and-write of one record {us('BM_TruncateAndWriteBaseline'):.0f} µs",
    f"{us('BM_RefreshScores') / us('BM_TruncateAndWriteBaseline'):.1f}×")
if present:
    median, read = float(present[0]), float(present[1])
    row("present latency: PutPixel, then a wait, until the X server shows it (median)",
        f"{median:.2f} ms", f"one pixel read back {read:.2f} ms", f"{median / read:.1f}×")
if present_wayland:
    median, read = float(present_wayland[0]), float(present_wayland[1])
    row("present latency: PutPixel, then a wait, until headless sway shows it (median)", f"{median:.1f} ms",
        f"one pixel read back with grim {read:.1f} ms", f"{median / read:.1f}×")
k = "BM_ReadKeyLatency"
poll_median = value("BM_PollingLatencyBaseline", "polling_median_us")
row("key latency AddChar → waiting ReadKey, median", f"{value(k, 'readkey_median_us'):.1f} µs",
    f"bare mutex hand-off {value(k, 'mailbox_median_us'):.1f} µs; 10 ms poller {poll_median:.0f} µs",
    f"{value(k, 'median_vs_mailbox'):.1f}×")
row("key latency, p99", f"{value(k, 'readkey_p99_us'):.1f} µs",
    f"bare mutex hand-off {value(k, 'mailbox_p99_us'):.1f} µs", f"{value(k, 'p99_vs_mailbox'):.1f}×")
readkey_cpu = value("BM_ReadKeyIdleCpu", "cpu_percent_of_core")
poll_cpu = value("BM_PollingIdleCpuBaseline", "cpu_percent_of_core")
row("CPU of a process blocked in ReadKey (no window)", f"{readkey_cpu:.3f} %",
    f"10 ms poller {poll_cpu:.3f} %", f"{readkey_cpu / poll_cpu:.2f}×" if poll_cpu else "–")
if idle:
    row("CPU of an open window with nothing drawn", f"{float(idle.group(1)):.3f} %", "–", "–")
def cpu_row(what, key, new, old):
    if key in new:
        row(what, new[key], f"before this change: {old[key]}" if key in old else "–", "–")

cpu_row("CPU of the game: intro", "intro", new_big, old_big)
cpu_row("CPU of the game: menu waiting for a key", "menu", new_big, old_big)
for size, new, old in (("1920x1080", new_big, old_big), ("640x480", new_small, old_small)):
    cpu_row(f"CPU of the game: playing at {size} (a step every 100 ms)", "game", new, old)
    cpu_row(f"CPU of the X server: playing at {size}", "server", new, old)
    if "game" in new and "server" in new:
        total = percent(new["game"]) + percent(new["server"])
        before = (f"before this change: {percent(old['game']) + percent(old['server']):.2f} %"
                  if "game" in old and "server" in old else "–")
        row(f"CPU of the game and the X server together: playing at {size}", f"{total:.2f} %",
            before, "–")
cpu_row("CPU of the game: end screen waiting for ESC", "end", new_big, old_big)
probe = re.compile(r"intermediate pictures seen: (\d+); missed: (\d+); key to screen median "
                   r"([\d.]+) ms")
if "probe" in new_big and probe.search(new_big["probe"]):
    m = probe.search(new_big["probe"])
    o = probe.search(old_big.get("probe", ""))
    row("menu: 200 key presses, pictures neither before nor after the key", m.group(1),
        f"before this change: {o.group(1)}" if o else "–", "–")
    row("menu: key press until the X server shows the new menu (median)", f"{m.group(3)} ms",
        f"before this change: {o.group(3)} ms" if o else "–", "–")
if "peak_kb" in new_big:
    peak = int(new_big["peak_kb"]) / 1024
    old_peak = (f"before this change: {int(old_big['peak_kb']) / 1024:.1f} MiB"
                if "peak_kb" in old_big else "–")
    row("peak memory of the game (VmHWM) over intro, menu, a game", f"{peak:.1f} MiB", old_peak, "–")

print(f"Measured on {cores} cores of an {model}, under Xvfb 1920x1080x24 (and 640x480x24 where "
      "said); CPU as % of one core.\n")
print("| measure | figure | baseline, same run | ratio |")
print("|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
EOF
