#!/usr/bin/env bash
# The figures: the benchmarks (snake_bench), the real window's present latency (window_bench) and
# the real game's CPU use and peak memory on a virtual X server, printed as one Markdown table
# with the machine it ran on. Each figure comes with its baseline from the same run.
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
screen=1280x1024
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

echo "playing the real game on Xvfb $screen ..." >&2
xs_start_xvfb "$screen"
xs_start_game "$snake"
# The intro runs 11 s from the window's opening: letters appear between 2 s and 8.6 s.
xs_sleep_until 500
cpu_intro=$(xs_cpu_percent "$GAME" 10)
xs_sleep_until 12000
cpu_menu=$(xs_cpu_percent "$GAME" 5)
xs_key Return
# The countdown takes 4.5 s; meanwhile start steering around a 3 x 3 square, one turn every
# 300 ms (three steps), so that the snake keeps going until ESC.
(
  while :; do
    for turn in Down Left Up Right; do
      xdotool key "$turn" 2>/dev/null || exit 0
      sleep 0.3
    done
  done
) &
steering=$!
xs_pids+=("$steering")
sleep 5.5
cpu_game=$(xs_cpu_percent "$GAME" 4)
kill "$steering" 2>/dev/null || true
# The figure is a game's only if the snake was still going when it was taken.
(($(xs_count white "$(xs_end_screen)") == 0)) || { echo "the snake died before ESC" >&2; exit 1; }
xs_key Escape
xs_wait_for white "$(xs_end_screen)" 100 10 || { echo "the game did not end on ESC" >&2; exit 1; }
cpu_end=$(xs_cpu_percent "$GAME" 5)
peak_kb=$(awk '/^VmHWM:/ { print $2 }' "/proc/$GAME/status")
xs_key Escape
sleep 0.5
for _ in 1 2 3; do xs_key Down; sleep 0.3; done
xs_key Return
xs_wait_exit 10
[ "$GAME_CODE" -eq 0 ] || { echo "the game ended with code $GAME_CODE" >&2; exit 1; }

cpu_model=$(awk -F': ' '/^model name/ { print $2; exit }' /proc/cpuinfo)
python3 - "$xs_work/bench.json" "$xs_work/window.txt" "$(nproc)" "$cpu_model" "$screen" \
  "$cpu_intro" "$cpu_menu" "$cpu_game" "$cpu_end" "$peak_kb" <<'EOF'
import json, re, sys

bench_json, window_txt, cores, model, screen = sys.argv[1:6]
cpu_intro, cpu_menu, cpu_game, cpu_end = sys.argv[6:10]
peak_kb = int(sys.argv[10])

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

for length in (3, 200):
    name = f"BM_GameTick/{length}"
    row(f"one game step drawn, snake of {length}, 1920x1080", f"{us(name):.1f} µs",
        "the step's 100 ms", f"{us(name) / 1000:.2f} %")
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
    row("present latency: PutPixel until the X server shows it (median)", f"{median:.2f} ms",
        f"one pixel read back {read:.2f} ms", f"{median / read:.1f}×")
if present_wayland:
    median, read = float(present_wayland[0]), float(present_wayland[1])
    row("present latency: PutPixel until headless sway shows it (median)", f"{median:.1f} ms",
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
row("CPU of the game: intro", cpu_intro, "–", "–")
row("CPU of the game: menu waiting for a key", cpu_menu, "–", "–")
row("CPU of the game: playing (a step every 100 ms)", cpu_game, "–", "–")
row("CPU of the game: end screen waiting for ESC", cpu_end, "–", "–")
row("peak memory of the game (VmHWM) over intro, menu, a game", f"{peak_kb / 1024:.1f} MiB", "–", "–")

print(f"Measured on {cores} cores of an {model}, under Xvfb {screen}x24; CPU as % of one core.\n")
print("| measure | figure | baseline, same run | ratio |")
print("|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
EOF
