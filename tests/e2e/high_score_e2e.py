#!/usr/bin/env python3
"""A high score's whole road through the real game, on an Xvfb of its own.

    high_score_e2e.py [--table-dir DIR] [--wine BUILD_DIR] [--prepared-table] SNAKE_BINARY

First run, in a fresh directory, with the game's standard input and output on a pseudo-terminal:
New Game, the snake is steered onto the prize by reading the board off the screen until it has
eaten, ESC, ESC, Quit; the name is typed into the terminal's line editor, the best score is echoed
on a line of its own and scores.db holds exactly that one entry. Second run in the same directory:
"Best players" lists the entry in red, Quit asks nothing and leaves scores.db as it was.

With --table-dir, SNAKE_BINARY is a launcher that runs the game in DIR: scores.db is looked for
there, and must not appear in the directory the game was started from.

With --wine, SNAKE_BINARY is the Windows game, run under Wine through tools/windows/wine-run.sh
with BUILD_DIR's prefix; the terminal is then Wine's console, which the game reads key by key.
With --prepared-table, the first run merges its result into a table of two entries that score 26
and 10 (bytes 0x1A and 0x0A, which a file in text mode would turn into end of file and a line
break) with such bytes in every place that carries no meaning, and the file must come out as
exactly the bytes of that merge.

Exit code 0 when it passed, 1 when it failed, 77 when a tool it needs is missing.
"""

import array
import ctypes
import ctypes.util
import fcntl
import os
import re
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time
import traceback
from collections import Counter, deque

SKIP = 77
NAME = b"Tester"
PROMPT = b"Enter your name : "
TOTAL_BUDGET = 140.0  # seconds for the whole test, well inside the CTest timeout
WINE_BUDGET = 200.0  # the same under Wine, whose programs start more slowly
PLAY_BUDGET = 40.0  # seconds of steering, over as many games as it takes to eat once

STEP = 15  # pixels between neighbouring cells
REACH = 9  # cells run from -REACH to REACH on both axes; the wall is at +-(REACH + 1)
DISC = 5  # disc radius

RED = (168, 0, 0)
TEXT_WHITE = (255, 255, 255)  # text in colour 15 is pure white, not the palette's entry
SNAKE_FILL = (124, 124, 252)
YELLOW = (252, 252, 0)
LIGHT_BLUE = (84, 84, 252)

UP, DOWN, LEFT, RIGHT = (0, -1), (0, 1), (-1, 0), (1, 0)
DIRECTIONS = (UP, DOWN, LEFT, RIGHT)
KEY_OF = {UP: "Up", DOWN: "Down", LEFT: "Left", RIGHT: "Right"}
NAME_OF = {UP: "up", DOWN: "down", LEFT: "left", RIGHT: "right"}


def read_menu():
    """The menu's items, top to bottom, from the list the scripts share."""
    path = os.path.join(os.path.dirname(__file__), "..", "..", "tools", "lib", "menu_items.txt")
    with open(path, encoding="utf-8") as items:
        return tuple(line.rstrip("\n") for line in items if not line.startswith("#"))


MENU = read_menu()

started = time.monotonic()


class Failed(Exception):
    pass


def log(message):
    print(f"[{time.monotonic() - started:6.2f}s] {message}", flush=True)


def check(condition, message):
    if not condition:
        raise Failed(message)


def die_with_parent():
    """Children die with the test even when it is killed outright (a CTest timeout)."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Children:
    """Every process the test starts, so that each is ended by its own id on the way out."""

    def __init__(self):
        self.processes = []

    def add(self, process):
        self.processes.append(process)
        return process

    def end_all(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.kill()
        for process in self.processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass


def start_xvfb(children, work):
    readable, writable = os.pipe()
    command = ["Xvfb", "-displayfd", str(writable), "-screen", "0", "1280x1024x24"]
    with open(os.path.join(work, "xvfb.log"), "wb") as xvfb_log:
        children.add(
            subprocess.Popen(
                # -noreset: a server that resets when its last client leaves (xdotool between two
                # runs of the game) refuses the next one for a while.
                command + ["-nolisten", "tcp", "-noreset"],
                pass_fds=(writable,),
                stdin=subprocess.DEVNULL,
                stdout=xvfb_log,
                stderr=xvfb_log,
                preexec_fn=die_with_parent,
            )
        )
    os.close(writable)
    number = b""
    deadline = time.monotonic() + 10
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([readable], [], [], 0.2)
        if ready:
            chunk = os.read(readable, 16)
            if not chunk:
                break
            number += chunk
    os.close(readable)
    if not number.strip():
        with open(os.path.join(work, "xvfb.log"), "rb") as f:
            sys.stdout.write(f.read().decode(errors="replace"))
        raise Failed("Xvfb did not start")
    return ":" + number.decode().strip()


def run(args, timeout):
    """A helper tool's result; one that hangs fails the test."""
    try:
        return subprocess.run(
            args, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout, check=False
        )
    except subprocess.TimeoutExpired:
        raise Failed(f"{' '.join(args)} did not finish within {timeout} s") from None


def tool(*args, timeout=5):
    result = run(list(args), timeout)
    return result.returncode, result.stdout.decode(errors="replace")


class X11:
    """The test's own connection to the X server, reading back what a window shows (libX11 through
    ctypes). Only the rectangles asked for cross it: a whole window is megabytes, which a busy
    machine takes tenths of a second to copy, far longer than the snake takes for a step."""

    class Image(ctypes.Structure):
        _fields_ = [
            ("width", ctypes.c_int),
            ("height", ctypes.c_int),
            ("xoffset", ctypes.c_int),
            ("format", ctypes.c_int),
            ("data", ctypes.c_void_p),
            ("byte_order", ctypes.c_int),
            ("bitmap_unit", ctypes.c_int),
            ("bitmap_bit_order", ctypes.c_int),
            ("bitmap_pad", ctypes.c_int),
            ("depth", ctypes.c_int),
            ("bytes_per_line", ctypes.c_int),
            ("bits_per_pixel", ctypes.c_int),
            ("red_mask", ctypes.c_ulong),
            ("green_mask", ctypes.c_ulong),
            ("blue_mask", ctypes.c_ulong),
        ]

    ALL_PLANES = 0xFFFFFFFF
    Z_PIXMAP = 2
    MSB_FIRST = 1

    def __init__(self, display):
        lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        lib.XGetImage.restype = ctypes.POINTER(X11.Image)
        lib.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int]
        lib.XGetImage.argtypes += [ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        lib.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
        lib.XGetGeometry.argtypes += [ctypes.c_void_p] * 6
        lib.XFree.argtypes = [ctypes.c_void_p]
        handler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
        # A window that went away is an error for the test to report, not for Xlib to exit on.
        self.on_error = handler(lambda display, event: 0)
        lib.XSetErrorHandler.argtypes = [handler]
        lib.XSetErrorHandler(self.on_error)
        self.lib = lib
        # The server names its display a moment before it lets clients in.
        deadline = time.monotonic() + 10
        self.display = lib.XOpenDisplay(display.encode())
        while not self.display and time.monotonic() < deadline:
            time.sleep(0.05)
            self.display = lib.XOpenDisplay(display.encode())
        check(self.display, f"cannot connect to {display}")

    def size(self, window):
        """The window's width and height, or None when it cannot be read."""
        root, x, y = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_int()
        width, height, border, depth = (ctypes.c_uint() for _ in range(4))
        fields = (root, x, y, width, height, border, depth)
        if not self.lib.XGetGeometry(self.display, window, *(ctypes.byref(f) for f in fields)):
            return None
        return width.value, height.value

    def image(self, window, x, y, width, height):
        """A rectangle of the window: its 32-bit pixels row by row, and the colour masks."""
        pointer = self.lib.XGetImage(
            self.display, window, x, y, width, height, self.ALL_PLANES, self.Z_PIXMAP
        )
        check(pointer, f"the window's {width}x{height}+{x}+{y} could not be read")
        image = pointer.contents
        try:
            check(
                image.bits_per_pixel == 32 and image.bytes_per_line == 4 * width,
                f"unexpected image: {image.bits_per_pixel} bits per pixel",
            )
            pixels = array.array("I")
            check(pixels.itemsize == 4, "no 32-bit array type")
            pixels.frombytes(ctypes.string_at(image.data, image.bytes_per_line * height))
            if (image.byte_order == self.MSB_FIRST) != (sys.byteorder == "big"):
                pixels.byteswap()
            return pixels, (image.red_mask, image.green_mask, image.blue_mask)
        finally:
            self.lib.XFree(image.data)
            self.lib.XFree(pointer)

    def close(self):
        self.lib.XCloseDisplay(self.display)


class Frame:
    """What rectangles of the game's client area showed at one moment; coordinates are the
    window's."""

    def __init__(self, patches, masks):
        self.patches = patches  # (x, y, width, height, pixels), pixels row by row
        self.masks = masks

    def value(self, rgb):
        """The pixel value of a colour in this image's layout."""
        value = 0
        for component, mask in zip(rgb, self.masks):
            shift = (mask & -mask).bit_length() - 1
            bits = bin(mask).count("1")
            value |= (component >> (8 - bits)) << shift
        return value

    def rgb(self, value):
        """The colour of a pixel value, 8 bits a component."""
        components = []
        for mask in self.masks:
            shift = (mask & -mask).bit_length() - 1
            bits = bin(mask).count("1")
            components.append(((value & mask) >> shift) << (8 - bits))
        return tuple(components)

    def count(self, rgb, x, y, width, height):
        """Pixels of exactly that colour in a rectangle (clipped to what was read)."""
        value = self.value(rgb)
        total = 0
        for px, py, pwidth, pheight, pixels in self.patches:
            x0, x1 = max(x, px) - px, min(x + width, px + pwidth) - px
            for row in range(max(y, py) - py, min(y + height, py + pheight) - py):
                base = row * pwidth
                total += pixels[base + x0 : base + x1].count(value) if x1 > x0 else 0
        return total

    def box(self, rgb, x, y, width, height):
        """Which pixels of a rectangle have that colour, row by row: a glyph's shape."""
        value = self.value(rgb)
        for px, py, pwidth, pheight, pixels in self.patches:
            if px <= x and x + width <= px + pwidth and py <= y and y + height <= py + pheight:
                return tuple(
                    tuple(pixels[(row - py) * pwidth + x - px + i] == value for i in range(width))
                    for row in range(y, y + height)
                )
        raise Failed(f"{width}x{height}+{x}+{y} was not read")

    def colours(self):
        return Counter(v for patch in self.patches for v in patch[4])


class Screen:
    def __init__(self, x11, window, geometry):
        self.x11 = x11
        self.window = window
        self.width, self.height = geometry
        # The centre of the client area, rounded down as the game rounds it.
        self.mx2 = (self.width - 1) // 2
        self.my2 = (self.height - 1) // 2
        # What a game needs read at every step: the board with the end screen's lines (which
        # reach 158 pixels right of the centre) and the score's first digit.
        self.play_areas = (
            (self.mx2 - 155, self.my2 - 155, 316, 316),
            (100 + 7 * 16, 100, 16, 16),
        )
        self.last = None
        self.keys = []

    def grab(self, areas=None):
        """The whole client area, or only the rectangles (x, y, width, height) given."""
        size = self.x11.size(int(self.window))
        check(
            size == (self.width, self.height),
            f"window is {size[0]}x{size[1]}, expected {self.width}x{self.height}"
            if size
            else "the window is gone",
        )
        patches, masks = [], None
        for x, y, width, height in areas or ((0, 0, self.width, self.height),):
            pixels, masks = self.x11.image(int(self.window), x, y, width, height)
            patches.append((x, y, width, height, pixels))
        frame = Frame(patches, masks)
        self.last = frame
        return frame

    def key(self, name):
        self.keys.append(f"{time.monotonic() - started:.2f}s {name}")
        code, _ = tool("xdotool", "windowfocus", self.window, "key", name)
        if code != 0:
            tool("xdotool", "key", name)

    def report(self):
        """What the last picture showed, and the last keys sent."""
        print("--- keys sent:", ", ".join(self.keys[-30:]) or "none")
        if self.last is None:
            print("--- no picture was read")
            return
        frame = self.last
        snake, prizes = self.board(frame)
        print(
            f"--- last picture: snake cells {sorted(snake)}, red cells {prizes}, "
            f"menu highlight {self.highlighted(frame)}, end screen {self.end_screen(frame)}"
        )
        colours = frame.colours().most_common(10)
        print("--- its commonest colours:", ", ".join(f"{frame.rgb(v)}: {n}" for v, n in colours))

    def centre_of(self, cell):
        return self.mx2 + STEP * cell[0], self.my2 + STEP * cell[1]

    def board(self, frame):
        """The snake's cells and the cells that show a prize's red outline."""
        snake, prizes = set(), []
        size = 2 * DISC + 1
        for j in range(-REACH, REACH + 1):
            for i in range(-REACH, REACH + 1):
                x, y = self.centre_of((i, j))
                if frame.count(SNAKE_FILL, x - 1, y - 1, 3, 3) >= 5:
                    snake.add((i, j))
                elif frame.count(RED, x - DISC, y - DISC, size, size) >= 8:
                    prizes.append((i, j))
        return snake, prizes

    def menu_item_box(self, index):
        """Where menu item index (1..4) stands when it is highlighted (size 3 text)."""
        text = MENU[index - 1]
        return self.mx2 - len(text) // 2, self.my2 + 25 * index, 24 * len(text), 24

    def highlighted(self, frame):
        for index in range(1, len(MENU) + 1):
            if frame.count(LIGHT_BLUE, *self.menu_item_box(index)) > 100:
                return index
        return None

    def end_screen(self, frame):
        return (
            frame.count(TEXT_WHITE, self.mx2 - 50, self.my2, 9 * 16, 16) > 100
            and frame.count(TEXT_WHITE, self.mx2 - 50, self.my2 + 40, 13 * 16, 16) > 100
        )

    def countdown(self, frame):
        return frame.count(YELLOW, self.mx2, self.my2, 16, 16) > 10

    def score_digit(self, frame):
        """The first digit of the play screen's "Scores N", drawn white at (100, 100)."""
        return frame.box(TEXT_WHITE, 100 + 7 * 16, 100, 16, 16)


class Game:
    """One run of the game binary, its standard input and output on a pseudo-terminal."""

    def __init__(self, children, command, work, display, label):
        self.master, slave = os.openpty()
        self.transcript = bytearray()
        self.stderr_path = os.path.join(work, f"{label}.stderr")
        env = dict(os.environ, DISPLAY=display, DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")

        def child_setup():
            die_with_parent()
            fcntl.ioctl(0, termios.TIOCSCTTY, 0)

        with open(self.stderr_path, "wb") as stderr:
            self.process = children.add(
                subprocess.Popen(
                    command,
                    cwd=work,
                    env=env,
                    stdin=slave,
                    stdout=slave,
                    stderr=stderr,
                    start_new_session=True,
                    preexec_fn=child_setup,
                )
            )
        os.close(slave)
        os.set_blocking(self.master, False)
        self.open = True

    def drain(self):
        while self.open:
            try:
                chunk = os.read(self.master, 4096)
            except BlockingIOError:
                return
            except OSError:  # EIO: every writer has gone
                chunk = b""
            if not chunk:
                self.open = False
                return
            self.transcript += chunk

    def shown(self):
        """What the terminal shows: Wine's console writes a blank as "erase, move right" and hides
        the cursor around each character; those are read back as the text they stand for."""
        text = bytes(self.transcript).replace(b"\x1b[K\x1b[1C", b" ")
        return re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", text)

    def wait_for_output(self, text, timeout):
        deadline = time.monotonic() + timeout
        while text not in self.shown():
            self.drain()
            if time.monotonic() > deadline or self.process.poll() is not None and not self.open:
                return False
            select.select([self.master], [], [], 0.05)
        return True

    def wait_for_raw_mode(self, timeout):
        """The line editor switches the terminal to raw mode once it reads."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not termios.tcgetattr(self.master)[3] & termios.ICANON:
                return True
            self.drain()
            time.sleep(0.02)
        return False

    def type(self, data):
        os.write(self.master, data)

    def wait_exit(self, timeout):
        deadline = time.monotonic() + timeout
        while self.process.poll() is None and time.monotonic() < deadline:
            self.drain()
            time.sleep(0.05)
        self.drain()
        return self.process.poll()

    def stderr(self):
        with open(self.stderr_path, "rb") as f:
            return f.read().decode(errors="replace")

    def report(self):
        print("--- terminal transcript:", repr(bytes(self.transcript)))
        print("--- standard error:", self.stderr() or "(empty)")
        print("--- exit code:", self.process.poll())

    def close(self):
        os.close(self.master)


def find_window(x11, pid, timeout):
    """The shown window of the game's process (the launcher execs the game: the same process)."""
    code, out = tool(
        "xdotool", "search", "--sync", "--onlyvisible", "--pid", str(pid), timeout=timeout
    )
    windows = out.split()
    check(code == 0 and windows, f"no game window appeared (xdotool: {code} {out!r})")
    window = windows[0]
    size = x11.size(int(window))
    check(size, f"the size of window {window} cannot be read")
    return Screen(x11, window, size)


def poll(screen, condition, timeout, interval, what):
    """Reads the screen until condition(frame) holds; the last frame is returned."""
    deadline = time.monotonic() + timeout
    while True:
        frame = screen.grab()
        if condition(frame):
            return frame
        check(time.monotonic() < deadline, f"timed out waiting for {what}")
        time.sleep(interval)


def choose_menu_item(screen, name):
    """From the menu with "New Game" highlighted: Down to the item of that name, each waiting for the highlight it brings
    (the menu acts only on the last of several waiting keys; once it shows the new highlight it
    waits for the next), then Return."""
    index = MENU.index(name) + 1
    poll(screen, lambda f: screen.highlighted(f) == 1, 20, 0.1, "the menu")
    for below in range(2, index + 1):
        screen.key("Down")
        poll(
            screen,
            lambda f: screen.highlighted(f) == below,
            5,
            0.05,
            f'"{MENU[below - 1]}" highlighted',
        )
    screen.key("Return")
    log(f'chose "{MENU[index - 1]}"')


def add(a, b):
    return a[0] + b[0], a[1] + b[1]


def reverse(direction):
    return -direction[0], -direction[1]


def distance(a, b):
    return abs(a[0] - b[0]) + abs(a[1] - b[1])


def inside(cell):
    return abs(cell[0]) <= REACH and abs(cell[1]) <= REACH


def on_edge(cell):
    return abs(cell[0]) == REACH or abs(cell[1]) == REACH


class Tracker:
    """Follows the head from frame to frame: the snake's new cells form a chain from the old
    head, since every step adds the cell in front of it."""

    def __init__(self):
        self.cells = {(0, 0), (-1, 0), (-2, 0)}
        self.head, self.direction, self.steps = (0, 0), RIGHT, 0

    def update(self, snake):
        """Takes a frame's snake; False for a frame caught while the snake was being redrawn."""
        if len(snake) < len(self.cells):
            return False
        if self.head in snake:
            path, cell = [], self.head
            while True:
                ahead = [
                    n
                    for n in (add(cell, d) for d in DIRECTIONS)
                    if n in snake and n not in self.cells and n not in path
                ]
                if len(ahead) != 1:
                    break
                cell = ahead[0]
                path.append(cell)
            if path:
                before = path[-2] if len(path) > 1 else self.head
                self.direction = (path[-1][0] - before[0], path[-1][1] - before[1])
                self.head = path[-1]
                self.steps += len(path)
        else:
            # Several ticks went by unseen: the end of the chain farthest from the old tail.
            tail = max(self.cells, key=lambda c: distance(c, self.head))
            ends = [c for c in snake if sum(add(c, d) in snake for d in DIRECTIONS) <= 1]
            if not ends:
                return False
            self.head = max(ends, key=lambda c: distance(c, tail))
            neck = [add(self.head, d) for d in DIRECTIONS if add(self.head, d) in snake]
            if neck:
                self.direction = (self.head[0] - neck[0][0], self.head[1] - neck[0][1])
            self.steps += 1
        self.cells = set(snake)
        return True


def path_length(start, heading, target, blocked):
    """Fewest steps from start (entered going heading) to target without turning straight back,
    crossing the wall or the snake's body; None when there is no way."""
    if start == target:
        return 0
    seen = {(start, heading)}
    queue = deque([(start, heading, 0)])
    while queue:
        cell, facing, distance = queue.popleft()
        for d in DIRECTIONS:
            if d == reverse(facing):
                continue
            nxt = add(cell, d)
            if not inside(nxt) or nxt in blocked or (nxt, d) in seen:
                continue
            if nxt == target:
                return distance + 1
            seen.add((nxt, d))
            queue.append((nxt, d, distance + 1))
    return None


def choose(head, direction, snake, target):
    """The next direction toward the target. Between equally short ways it keeps off the edge
    cells (a turn key that comes a tick late there runs the snake into the wall) and prefers
    going straight."""
    body = snake - {head}
    best, best_rank = direction, None
    for d in DIRECTIONS:
        if d == reverse(direction):
            continue
        nxt = add(head, d)
        if not inside(nxt) or nxt in body:
            continue
        length = path_length(nxt, d, target, body)
        rank = (999 if length is None else length, on_edge(nxt) and nxt != target, d != direction)
        if best_rank is None or rank < best_rank:
            best, best_rank = d, rank
    return best


def await_game(screen):
    """Waits through the intro and the countdown until the snake's first tick is on the screen."""
    counting = False
    deadline = time.monotonic() + 30
    while True:
        frame = screen.grab(screen.play_areas)
        snake, _ = screen.board(frame)
        if len(snake) >= 3:
            return
        if not counting and screen.countdown(frame):
            counting = True
            log("countdown")
        check(time.monotonic() < deadline, "no game started within 30 s")
        time.sleep(0.02 if counting else 0.25)


def play_one_game(screen, play_deadline):
    """Steers one game after its first tick. Returns the number of prizes eaten once the snake
    has grown and the score text has changed, or 0 when the game ended without eating."""
    tracker = Tracker()
    prize = None
    zero = None
    grown = text_changed = False
    pending, pending_since = None, 0
    frames = 0
    began = time.monotonic()
    while True:
        check(time.monotonic() < play_deadline, "the snake ate nothing within the time for play")
        frame = screen.grab(screen.play_areas)
        frames += 1
        snake, prizes = screen.board(frame)
        if not snake:
            if screen.end_screen(frame):
                log(f"the game ended without eating ({tracker.steps} steps, {frames} frames)")
                return 0
            continue
        if not tracker.update(snake):
            continue
        digit = screen.score_digit(frame)
        if any(any(row) for row in digit):
            if zero is None:
                zero = digit
            elif digit != zero:
                text_changed = True
        if len(snake) > 3 and not grown:
            grown = True
            log(f"the snake grew to {len(snake)} cells at step {tracker.steps}")
        if grown and text_changed:
            took = (time.monotonic() - began) * 1000 / frames
            log(f'the score text is no longer "Scores 0" ({frames} pictures, {took:.0f} ms each)')
            return len(snake) - 3
        if len(prizes) == 1 and prizes[0] != prize:
            prize = prizes[0]
            log(f"prize at {prize}, head at {tracker.head} going {NAME_OF[tracker.direction]}")
        # A key shows its effect within two steps, or it came too late and was refused.
        if pending is not None and (
            tracker.direction == pending or tracker.steps >= pending_since + 2
        ):
            pending = None
        wanted = choose(tracker.head, tracker.direction, snake, prize if prize else (0, 0))
        if wanted != (pending if pending is not None else tracker.direction):
            screen.key(KEY_OF[wanted])
            pending, pending_since = wanted, tracker.steps


def back_to_menu(screen):
    """From a game that is ending: ESC on the end screen, unless a key already waiting there has
    taken the game back to the menu."""
    frame = poll(
        screen,
        lambda f: screen.end_screen(f) or screen.highlighted(f) == 1,
        3,
        0.05,
        "the end screen",
    )
    if screen.end_screen(frame):
        screen.key("Escape")
    poll(screen, lambda f: screen.highlighted(f) == 1, 3, 0.05, "the menu after the game")


def first_run(children, command, work, display, x11, console_raw_mode):
    game = Game(children, command, work, display, "first")
    screen = None
    try:
        screen = find_window(x11, game.process.pid, 10)
        log(f"window {screen.width}x{screen.height}, centre ({screen.mx2}, {screen.my2})")
        # Typed during the intro, Return waits for the menu, which starts New Game with it.
        screen.key("Return")
        play_deadline = None
        eaten = 0
        while not eaten:
            await_game(screen)
            log("the snake is moving")
            if play_deadline is None:
                play_deadline = time.monotonic() + PLAY_BUDGET
            eaten = play_one_game(screen, play_deadline)
            if eaten:
                screen.key("Escape")  # ends the game after its next tick
            back_to_menu(screen)
            if not eaten:
                screen.key("Return")
        choose_menu_item(screen, "Quit")

        check(game.wait_for_output(PROMPT, 10), "no name prompt on the terminal")
        if console_raw_mode:
            check(game.wait_for_raw_mode(5), "the terminal never went into raw mode for the name")
        game.type(NAME + b"\r")
        code = game.wait_exit(10)
        check(code is not None, "the game did not end after the name")
        check(code == 0, f"exit code {code}")
        after = game.shown().split(PROMPT, 1)[1]
        lines = [line.rstrip(b"\r") for line in after.split(b"\n")]
        check(len(lines) >= 2 and lines[0] == NAME, f"name line {lines[:1]!r}, expected {NAME!r}")
        check(lines[1].isdigit(), f"the line after the name is {lines[1]!r}, not the score alone")
        best = int(lines[1])
        check(best >= eaten >= 1, f"best score {best}, but {eaten} eaten on the screen")
        check(all(not line for line in lines[2:]), f"more output after the score: {lines[2:]!r}")
        log(f"the terminal echoed the name and the best score {best}; exit code 0")
        return best
    except BaseException:
        game.drain()
        game.report()
        if screen is not None:
            screen.report()
        raise
    finally:
        game.close()


def check_score_file(path, best):
    with open(path, "rb") as f:
        data = f.read()
    check(len(data) == 2582, f"scores.db is {len(data)} bytes, not 2582")
    (size,) = struct.unpack_from("<H", data, 2580)
    length = data[0]
    name = data[1 : 1 + length]
    (score,) = struct.unpack_from("<H", data, 256)
    check(size == 1, f"scores.db holds {size} entries, not 1")
    check((name, score) == (NAME, best), f"entry 1 is {(name, score)!r}, expected {(NAME, best)!r}")
    log(f"scores.db: 2582 bytes, Size 1, entry 1 = ({name.decode()}, {score})")
    return [(NAME, best)]


# Bytes that text mode would change: line feed, carriage return, and 0x1A, end of file.
FILLER = bytes([0x0A, 0x1A, 0x0D, 0x00, 0x0A, 0x0A])
PREPARED = ((b"Alice", 26), (b"Bob", 10))


def entry_bytes(name, score, filler):
    return bytes([len(name)]) + name + filler[: 255 - len(name)] + struct.pack("<H", score)


def prepared_table():
    """Two entries, 26 and 10; every byte that carries no meaning from FILLER."""
    filler = (FILLER * 500)[:2582]
    records = [entry_bytes(n, s, filler) for n, s in PREPARED]
    records += [filler[:258]] * (10 - len(records))
    return b"".join(records) + struct.pack("<H", len(PREPARED))


def merged_table(prepared, best):
    """The merge of (NAME, best) into the prepared table, as the game must write it: the new entry
    after the others with zeros after its name, then a stable sort by descending score."""
    records = [prepared[258 * k : 258 * (k + 1)] for k in range(10)]
    size = len(PREPARED)
    records[size] = entry_bytes(NAME, best, bytes(255))
    score = lambda record: struct.unpack_from("<H", record, 256)[0]
    records[: size + 1] = sorted(records[: size + 1], key=lambda record: -score(record))
    return b"".join(records) + struct.pack("<H", size + 1)


def check_merged_file(path, prepared, best):
    with open(path, "rb") as f:
        data = f.read()
    expected = merged_table(prepared, best)
    check(len(data) == 2582, f"scores.db is {len(data)} bytes, not 2582")
    differ = [i for i in range(2582) if data[i] != expected[i]]
    check(not differ, f"scores.db differs from the merge at offsets {differ[:10]}")
    rows = []
    for k in range(len(PREPARED) + 1):
        entry = data[258 * k : 258 * (k + 1)]
        rows.append((entry[1 : 1 + entry[0]], struct.unpack_from("<H", entry, 256)[0]))
    log(f"scores.db: byte for byte the merge of {best} into the prepared table: {rows}")
    return rows


def expect_text_cells(frame, what, x, y, text):
    """Red ink in each 16 x 16 character cell of a text that has ink there, none in its blanks,
    and none in the 6 pixels before and after it: the text stands where it should."""
    cells = [frame.count(RED, x + 16 * k, y, 16, 16) for k in range(len(text))]
    before = frame.count(RED, x - 6, y, 6, 16)
    after = frame.count(RED, x + 16 * len(text), y, 6, 16)
    log(f"{what} {text!r}: red pixels per character {cells}, before {before}, after {after}")
    for k, (ink, char) in enumerate(zip(cells, text)):
        check((ink > 0) == (char != " "), f"{what}: character {k} {char!r} has {ink} red pixels")
    check(before == 0 and after == 0, f"{what} is not where it should be")


def second_run(children, command, work, display, x11, table_dir, rows):
    path = os.path.join(table_dir, "scores.db")
    before = os.stat(path)
    with open(path, "rb") as f:
        contents = f.read()
    game = Game(children, command, work, display, "second")
    screen = None
    try:
        screen = find_window(x11, game.process.pid, 10)
        choose_menu_item(screen, "Best players")
        mx2, my2 = screen.mx2, screen.my2
        # The footer is drawn after the rows: once it shows, the table is complete.
        frame = poll(
            screen,
            lambda f: f.count(RED, mx2 - 10, my2 + 300, 13 * 16, 16) > 50,
            5,
            0.1,
            "the high-score screen",
        )
        # The title's first row and column of ink are the screen's centre, give or take the few
        # pixels by which Wine's maximized window is larger than the X window that shows it.
        dy = next((d for d in range(-4, 5) if frame.count(RED, mx2 - 10, my2 + d, 190, 1)), 0)
        dx = next((d for d in range(-4, 5) if frame.count(RED, mx2 - 6 + d, my2 + dy, 1, 16)), 0)
        if (dx, dy) != (0, 0):
            log(f"the high-score screen stands {dx}, {dy} pixels off the window's centre")
            mx2, my2 = mx2 + dx, my2 + dy
        title = frame.count(RED, mx2 - 6, my2, 11 * 16, 16)
        check(title > 100, f"no title on the high-score screen ({title} red pixels)")
        for row, (name, score) in enumerate(rows, start=1):
            digits = str(score)
            field = " " * (3 - len(digits)) + digits  # right-aligned in 3 characters
            for what, x, text in (
                ("row number", mx2 - 10, f"{row}. "),
                ("name", mx2 + 45, name.decode()),
                ("score", mx2 + 200, field),
            ):
                expect_text_cells(frame, what, x, my2 + 20 * row, text)
        # Nothing just above the first row or below the last one.
        below = my2 + 20 * len(rows) + 16
        for y, height in ((my2 + 16, 4), (below, 24)):
            stray = frame.count(RED, mx2 - 30, y, 300, height)
            check(stray == 0, f"{stray} red pixels at y {y - my2} to {y - my2 + height - 1}")
        screen.key("Escape")
        choose_menu_item(screen, "Quit")
        code = game.wait_exit(10)
        check(code is not None, "the game did not end after Quit")
        check(code == 0, f"exit code {code}")
        check(PROMPT not in game.shown(), "a name was asked after a run that scored nothing")
        after = os.stat(path)
        with open(path, "rb") as f:
            check(f.read() == contents, "scores.db changed")
        check(
            (after.st_ino, after.st_mtime_ns) == (before.st_ino, before.st_mtime_ns),
            "scores.db was rewritten",
        )
        log("second run: the table is listed, nothing asked, exit code 0, scores.db untouched")
    except BaseException:
        game.drain()
        game.report()
        if screen is not None:
            screen.report()
        raise
    finally:
        game.close()


def out_of_time(*_):
    raise Failed("still not done within the test's time")


def main():
    args = sys.argv[1:]
    table_dir = None
    wine_build = None
    prepared = None
    while len(args) > 1 and args[0].startswith("--"):
        if args[0] == "--table-dir" and len(args) > 2:
            table_dir, args = args[1], args[2:]
        elif args[0] == "--wine" and len(args) > 2:
            wine_build, args = os.path.realpath(args[1]), args[2:]
        elif args[0] == "--prepared-table":
            prepared, args = prepared_table(), args[1:]
        else:
            break
    if len(args) != 1:
        print(__doc__)
        return 2
    binary = os.path.realpath(args[0])
    command = [binary]
    needed = ["Xvfb", "xdotool"]
    if wine_build is not None:
        here = os.path.dirname(os.path.realpath(__file__))
        wine_run = os.path.join(here, "..", "..", "tools", "windows", "wine-run.sh")
        command = [wine_run, wine_build, binary]
        needed.append("wine")
    for tool_name in needed:
        if shutil.which(tool_name) is None:
            print(f"skipped: {tool_name} is not installed")
            return SKIP

    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    signal.signal(signal.SIGALRM, out_of_time)
    signal.alarm(int(TOTAL_BUDGET if wine_build is None else WINE_BUDGET))
    children = Children()
    work = tempfile.mkdtemp(prefix="high_score_e2e.")
    x11 = None
    try:
        display = start_xvfb(children, work)
        os.environ["DISPLAY"] = display  # for xdotool
        x11 = X11(display)
        log(f"Xvfb on {display}, working in {work}")
        if prepared is not None:
            with open(os.path.join(table_dir or work, "scores.db"), "wb") as f:
                f.write(prepared)
        best = first_run(children, command, work, display, x11, wine_build is None)
        if table_dir is None:
            table_dir = work
        else:
            stray = os.path.join(work, "scores.db")
            check(not os.path.exists(stray), "scores.db was written where the game was started")
        path = os.path.join(table_dir, "scores.db")
        if prepared is None:
            rows = check_score_file(path, best)
        else:
            rows = check_merged_file(path, prepared, best)
        second_run(children, command, work, display, x11, table_dir, rows)
        log("passed")
        return 0
    except Failed as failure:
        log(f"FAILED: {failure}")
        return 1
    except Exception:  # a fault of the test itself still ends everything it started
        traceback.print_exc()
        log("FAILED")
        return 1
    finally:
        signal.alarm(0)
        if x11 is not None:
            x11.close()  # before its server goes, which Xlib would take for a fatal error
        children.end_all()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
