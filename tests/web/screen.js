// Reads the game off the page's canvas and steers the snake onto the prize, as a player would:
// the board, the menu's highlight and the end screen are recognised by their colours at the
// places the game draws them, around the centre of the picture.

const STEP = 15; // pixels between neighbouring cells
const REACH = 9; // cells run from -REACH to REACH on both axes; the wall is at +-(REACH + 1)
const DISC = 5; // disc radius
const MENU = ['New Game', 'Controls', 'Best players', 'Quit'];

// Runs in the page: one look at the canvas, summed up, and the red ink in the given places (the
// high-score screen's text cells). Colours are exact: the canvas holds the palette's values. The
// picture is read from a copy, so that the game's own canvas is never read back.
function look({ step, reach, disc, menu, places }) {
  const canvas = document.getElementById('screen');
  if (!canvas || canvas.hidden || !canvas.width) return null;
  const { width, height } = canvas;
  const copy = new OffscreenCanvas(width, height).getContext('2d', { willReadFrequently: true });
  copy.drawImage(canvas, 0, 0);
  const data = copy.getImageData(0, 0, width, height).data;
  const mx2 = Math.floor((width - 1) / 2);
  const my2 = Math.floor((height - 1) / 2);
  const count = (rgb, x, y, w, h) => {
    let total = 0;
    for (let row = Math.max(y, 0); row < Math.min(y + h, height); ++row) {
      for (let col = Math.max(x, 0); col < Math.min(x + w, width); ++col) {
        const i = 4 * (row * width + col);
        if (data[i] === rgb[0] && data[i + 1] === rgb[1] && data[i + 2] === rgb[2]) ++total;
      }
    }
    return total;
  };
  const RED = [168, 0, 0], WHITE = [255, 255, 255], SNAKE = [124, 124, 252];
  const YELLOW = [252, 252, 0], LIGHT_BLUE = [84, 84, 252];
  const snake = [], prizes = [];
  for (let j = -reach; j <= reach; ++j) {
    for (let i = -reach; i <= reach; ++i) {
      const x = mx2 + step * i, y = my2 + step * j;
      if (count(SNAKE, x - 1, y - 1, 3, 3) >= 5) snake.push([i, j]);
      else if (count(RED, x - disc, y - disc, 2 * disc + 1, 2 * disc + 1) >= 8) prizes.push([i, j]);
    }
  }
  let highlighted = null;
  menu.forEach((text, k) => {
    const index = k + 1;
    const box = [mx2 - Math.floor(text.length / 2), my2 + 25 * index, 24 * text.length, 24];
    if (count(LIGHT_BLUE, ...box) > 100) highlighted = index;
  });
  const digit = [];
  for (let row = 0; row < 16; ++row) {
    for (let col = 0; col < 16; ++col) digit.push(count(WHITE, 100 + 7 * 16 + col, 100 + row, 1, 1));
  }
  return {
    width, height, mx2, my2, snake, prizes, highlighted,
    endScreen: count(WHITE, mx2 - 50, my2, 9 * 16, 16) > 100 &&
      count(WHITE, mx2 - 50, my2 + 40, 13 * 16, 16) > 100,
    countdown: count(YELLOW, mx2, my2, 16, 16) > 10,
    // The intro's first line, typed letter by letter in colours of their own.
    introLine: width * height > 0 && (() => {
      let lit = 0;
      for (let row = my2 - 30; row < my2 - 14; ++row) {
        for (let col = mx2 - 125; col < mx2 + 375; ++col) {
          const i = 4 * (row * width + col);
          if (data[i] || data[i + 1] || data[i + 2]) ++lit;
        }
      }
      return lit;
    })(),
    // The first digit of the play screen's "Scores N", drawn white at (100, 100).
    scoreDigit: digit.join(''),
    ink: (places || []).map((place) => count(RED, ...place)),
  };
}

class Screen {
  constructor(page, log) {
    this.page = page;
    this.log = log;
    this.last = null;
    this.keys = [];
  }

  async grab(places) {
    this.last = await this.page.evaluate(look, { step: STEP, reach: REACH, disc: DISC, menu: MENU, places });
    return this.last;
  }

  // Red pixels in each [x, y, width, height] of the picture.
  async redInk(places) {
    return (await this.grab(places)).ink;
  }

  async key(name) {
    this.keys.push(name);
    await this.page.keyboard.press(name);
  }

  // Looks until condition(frame) holds; the last frame is returned.
  async poll(condition, timeoutMs, intervalMs, what) {
    const deadline = Date.now() + timeoutMs;
    for (;;) {
      const frame = await this.grab();
      if (frame && condition(frame)) return frame;
      if (Date.now() > deadline) throw new Error(`timed out waiting for ${what}`);
      await this.page.waitForTimeout(intervalMs);
    }
  }

  report() {
    const f = this.last;
    return `keys sent: ${this.keys.slice(-30).join(', ') || 'none'}; last picture: ` +
      (f ? `snake ${JSON.stringify(f.snake)}, prizes ${JSON.stringify(f.prizes)}, ` +
        `highlight ${f.highlighted}, end screen ${f.endScreen}` : 'none');
  }
}

const UP = [0, -1], DOWN = [0, 1], LEFT = [-1, 0], RIGHT = [1, 0];
const DIRECTIONS = [UP, DOWN, LEFT, RIGHT];
const KEY_OF = new Map([[UP, 'ArrowUp'], [DOWN, 'ArrowDown'], [LEFT, 'ArrowLeft'], [RIGHT, 'ArrowRight']]);
const key = (cell) => `${cell[0]},${cell[1]}`;
const add = (a, b) => [a[0] + b[0], a[1] + b[1]];
const same = (a, b) => a[0] === b[0] && a[1] === b[1];
const reverse = (d) => DIRECTIONS.find((e) => same(e, [-d[0], -d[1]]));
const distance = (a, b) => Math.abs(a[0] - b[0]) + Math.abs(a[1] - b[1]);
const inside = (c) => Math.abs(c[0]) <= REACH && Math.abs(c[1]) <= REACH;
const onEdge = (c) => Math.abs(c[0]) === REACH || Math.abs(c[1]) === REACH;

// Follows the head from frame to frame: the snake's new cells form a chain from the old head,
// since every step adds the cell in front of it.
class Tracker {
  constructor() {
    this.cells = new Set(['0,0', '-1,0', '-2,0']);
    this.head = [0, 0];
    this.direction = RIGHT;
    this.steps = 0;
  }

  // False for a frame caught while the snake was being redrawn.
  update(snakeCells) {
    const snake = new Set(snakeCells.map(key));
    if (snake.size < this.cells.size) return false;
    if (snake.has(key(this.head))) {
      const path = [];
      let cell = this.head;
      for (;;) {
        const ahead = DIRECTIONS.map((d) => add(cell, d)).filter((n) =>
          snake.has(key(n)) && !this.cells.has(key(n)) && !path.some((p) => same(p, n)));
        if (ahead.length !== 1) break;
        cell = ahead[0];
        path.push(cell);
      }
      if (path.length) {
        const before = path.length > 1 ? path[path.length - 2] : this.head;
        const last = path[path.length - 1];
        this.direction = DIRECTIONS.find((d) => same(d, [last[0] - before[0], last[1] - before[1]]));
        this.head = last;
        this.steps += path.length;
      }
    } else {
      // Several ticks went by unseen: the end of the chain farthest from the old tail.
      const cells = [...this.cells].map((c) => c.split(',').map(Number));
      const tail = cells.reduce((a, c) => (distance(c, this.head) > distance(a, this.head) ? c : a));
      const ends = snakeCells.filter((c) => DIRECTIONS.filter((d) => snake.has(key(add(c, d)))).length <= 1);
      if (!ends.length) return false;
      this.head = ends.reduce((a, c) => (distance(c, tail) > distance(a, tail) ? c : a));
      const neck = DIRECTIONS.map((d) => add(this.head, d)).find((n) => snake.has(key(n)));
      if (neck) this.direction = DIRECTIONS.find((d) => same(d, [this.head[0] - neck[0], this.head[1] - neck[1]]));
      this.steps += 1;
    }
    this.cells = snake;
    return true;
  }
}

// Fewest steps from start (entered going heading) to target without turning straight back,
// crossing the wall or the snake's body; null when there is no way.
function pathLength(start, heading, target, blocked) {
  if (same(start, target)) return 0;
  const seen = new Set([`${key(start)}/${key(heading)}`]);
  const queue = [[start, heading, 0]];
  while (queue.length) {
    const [cell, facing, steps] = queue.shift();
    for (const d of DIRECTIONS) {
      if (d === reverse(facing)) continue;
      const next = add(cell, d);
      const state = `${key(next)}/${key(d)}`;
      if (!inside(next) || blocked.has(key(next)) || seen.has(state)) continue;
      if (same(next, target)) return steps + 1;
      seen.add(state);
      queue.push([next, d, steps + 1]);
    }
  }
  return null;
}

// The next direction toward the target. Between equally short ways it keeps off the edge cells
// (a turn that comes a tick late there runs the snake into the wall) and prefers going straight.
function choose(head, direction, snake, target) {
  const body = new Set([...snake].filter((c) => c !== key(head)));
  let best = direction, bestRank = null;
  for (const d of DIRECTIONS) {
    if (d === reverse(direction)) continue;
    const next = add(head, d);
    if (!inside(next) || body.has(key(next))) continue;
    const length = pathLength(next, d, target, body);
    const rank = [length === null ? 999 : length, onEdge(next) && !same(next, target) ? 1 : 0, d === direction ? 0 : 1];
    if (bestRank === null || compare(rank, bestRank) < 0) {
      best = d;
      bestRank = rank;
    }
  }
  return best;
}

function compare(a, b) {
  for (let i = 0; i < a.length; ++i) if (a[i] !== b[i]) return a[i] - b[i];
  return 0;
}

// Waits through the countdown until the snake's first tick is on the screen.
async function awaitGame(screen) {
  let counting = false;
  const deadline = Date.now() + 30000;
  for (;;) {
    const frame = await screen.grab();
    if (frame && frame.snake.length >= 3) return;
    if (!counting && frame && frame.countdown) {
      counting = true;
      screen.log('countdown');
    }
    if (Date.now() > deadline) throw new Error('no game started within 30 s');
    await screen.page.waitForTimeout(counting ? 20 : 250);
  }
}

// Steers one game after its first tick. Returns the prizes eaten once the snake has grown and
// the score text has changed, or 0 when the game ended without eating.
async function playOneGame(screen, playDeadline) {
  const tracker = new Tracker();
  let prize = null, zero = null, grown = false, textChanged = false;
  let pending = null, pendingSince = 0;
  for (;;) {
    if (Date.now() > playDeadline) throw new Error('the snake ate nothing within the time for play');
    const frame = await screen.grab();
    if (!frame) continue;
    if (!frame.snake.length) {
      if (frame.endScreen) {
        screen.log(`the game ended without eating (${tracker.steps} steps)`);
        return 0;
      }
      continue;
    }
    if (!tracker.update(frame.snake)) continue;
    if (frame.scoreDigit.includes('1')) {
      if (zero === null) zero = frame.scoreDigit;
      else if (frame.scoreDigit !== zero) textChanged = true;
    }
    if (frame.snake.length > 3 && !grown) {
      grown = true;
      screen.log(`the snake grew to ${frame.snake.length} cells at step ${tracker.steps}`);
    }
    if (grown && textChanged) {
      screen.log('the score text is no longer "Scores 0"');
      return frame.snake.length - 3;
    }
    if (frame.prizes.length === 1 && (!prize || !same(frame.prizes[0], prize))) {
      prize = frame.prizes[0];
      screen.log(`prize at ${prize}, head at ${tracker.head}`);
    }
    // A key shows its effect within two steps, or it came too late and was refused.
    if (pending && (same(tracker.direction, pending) || tracker.steps >= pendingSince + 2)) pending = null;
    const wanted = choose(tracker.head, tracker.direction, tracker.cells, prize || [0, 0]);
    if (!same(wanted, pending || tracker.direction)) {
      await screen.key(KEY_OF.get(wanted));
      pending = wanted;
      pendingSince = tracker.steps;
    }
  }
}

module.exports = { Screen, MENU, awaitGame, playOneGame };
