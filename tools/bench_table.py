#!/usr/bin/env python3
"""Prints the figures of one tools/bench.sh run as a Markdown table, each with its baseline from
the same run.

    bench_table.py BENCH_JSON WINDOW_TXT CORES CPU_MODEL WORK_DIR

BENCH_JSON is snake_bench's JSON output, WINDOW_TXT what window_bench printed (X11, then Wayland
where it ran), WORK_DIR holds the "name=value" lines of each game session (new_big, new_small,
new_wayland and, with a baseline build, old_big, old_small and old_wayland).
"""

import json
import re
import sys

bench_json, window_txt, cores, model, work = sys.argv[1:6]

def session(name):
    try:
        return dict(l.rstrip("\n").split("=", 1) for l in open(f"{work}/{name}.txt") if "=" in l)
    except FileNotFoundError:
        return {}

new_big, new_small = session("new_big"), session("new_small")
old_big, old_small = session("old_big"), session("old_small")
new_wayland, old_wayland = session("new_wayland"), session("old_wayland")

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
present_twice = re.search(r"present latency at scale 2: median ([\d.]+) ms; one pixel read ([\d.]+) ms",
                          window)
square = re.search(r"shows it: ([\d.]+) ns per pixel at scale 1, ([\d.]+) ns at scale 2", window)

rows = []
# What a game session prints when it has played and then steered on the end screen.
PLAYED = ("game", "server", "keys_game", "keys_server")

def together(d):
    return percent(d["game"]) + percent(d["server"])

def without_keys(d):
    return together(d) - percent(d["keys_game"]) - percent(d["keys_server"])

def row(what, figure, baseline, ratio):
    rows.append((what, figure, baseline, ratio))

step = open(f"{work}/step.txt").read().strip()
if step:
    row("one game step, snake of 3: instructions on the program's thread (callgrind)",
        f"{float(step):,.0f}", "–", "–")
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
if present_twice:
    median, read = float(present_twice[1]), float(present_twice[2])
    row("present latency at scale 2 (2x2 blocks), until the X server shows it (median)",
        f"{median:.2f} ms", f"one pixel read back {read:.2f} ms", f"{median / read:.1f}×")
if square:
    one, two = float(square[1]), float(square[2])
    row("a changed 256x256 square until the X server shows it, per changed pixel, scale 2",
        f"{two:.2f} ns", f"the same at scale 1 {one:.2f} ns", f"{two / one:.2f}×")
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
    cpu_row(f"CPU of the game: the same keys on the end screen at {size}", "keys_game", new, old)
    cpu_row(f"CPU of the X server: the same keys on the end screen at {size}", "keys_server",
            new, old)
    if all(k in new for k in PLAYED):
        before = (f"before this change: {without_keys(old):.2f} %"
                  if all(k in old for k in PLAYED) else "–")
        row(f"CPU of the game and the X server together: playing at {size}, keys excluded",
            f"{without_keys(new):.2f} %", before, "–")
if all(k in new_wayland for k in PLAYED) and all(k in new_big for k in PLAYED):
    for what, measure in (("playing", together), ("playing, keys excluded", without_keys)):
        wayland, x11 = measure(new_wayland), measure(new_big)
        row(f"CPU of the game and sway together (headless): {what} at 1920x1080",
            f"{wayland:.2f} %", f"game and X server, the same at the same size {x11:.2f} %",
            f"{wayland / x11:.1f}×" if x11 > 0 else "–")
    if all(k in old_wayland for k in PLAYED):
        row("CPU of the game and sway together: playing at 1920x1080, before this change",
            f"{together(old_wayland):.2f} %", "–", "–")
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
      "said) and headless sway where said; CPU as % of one core.\n")
print("| measure | figure | baseline, same run | ratio |")
print("|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
