#!/usr/bin/env node
// Figures of the web build in headless Chromium, each with its baseline from the same run:
//
//   node figures.js SITE_DIR
//
// the download (the .wasm and the .js, as sent gzip-compressed), the first picture after
// navigation, the whole browser's CPU idle in the menu against the same browser on a blank page
// (alternating, twice 30 s each), a menu key until the canvas changes (median of 20), and the
// whole browser's CPU while a game is steered in small squares for 30 s. Prints one JSON object.

const { chromium } = require('playwright-core');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const { Screen, awaitGame } = require('./screen.js');

const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml' };
const BLANK = '<!doctype html><title>blank</title>';

function serve(root) {
  const server = http.createServer((request, response) => {
    const name = path.normalize(new URL(request.url, 'http://x').pathname);
    if (name === '/blank.html') return response.writeHead(200, { 'Content-Type': 'text/html' }).end(BLANK);
    const file = path.join(root, name === '/' ? 'index.html' : name);
    fs.readFile(file, (error, data) => {
      if (error || !file.startsWith(root)) return response.writeHead(404).end();
      response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
      response.end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Every process of the browser: its own and its descendants' (renderers, GPU, network).
function processTree(root) {
  const parents = new Map();
  for (const entry of fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e))) {
    try {
      const stat = fs.readFileSync(`/proc/${entry}/stat`, 'utf8');
      parents.set(Number(entry), Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]));
    } catch (e) { /* ended meanwhile */ }
  }
  const tree = new Set([root]);
  for (let grew = true; grew;) {
    grew = false;
    for (const [pid, parent] of parents) {
      if (tree.has(parent) && !tree.has(pid)) grew = tree.add(pid);
    }
  }
  return tree;
}

// Nanoseconds on a CPU, by the scheduler's count of every thread, per process.
function cpuNs(pids) {
  const used = new Map();
  for (const pid of pids) {
    try {
      let total = 0;
      for (const task of fs.readdirSync(`/proc/${pid}/task`)) {
        total += Number(fs.readFileSync(`/proc/${pid}/task/${task}/schedstat`, 'utf8').split(' ')[0]);
      }
      used.set(pid, total);
    } catch (e) { /* ended meanwhile */ }
  }
  return used;
}

// The browser's CPU over `seconds`, as a percentage of one core.
async function cpuPercent(root, seconds) {
  const before = cpuNs(processTree(root));
  const start = process.hrtime.bigint();
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  const after = cpuNs(processTree(root));
  const elapsed = Number(process.hrtime.bigint() - start);
  let used = 0;
  for (const [pid, ns] of after) used += ns - (before.get(pid) || 0);
  return (100 * used) / elapsed;
}

function browserProcess(userDir) {
  for (const entry of fs.readdirSync('/proc').filter((e) => /^\d+$/.test(e))) {
    try {
      const command = fs.readFileSync(`/proc/${entry}/cmdline`, 'utf8');
      if (command.includes(`--user-data-dir=${userDir}`) && !command.includes('--type=')) return Number(entry);
    } catch (e) { /* ended meanwhile */ }
  }
  throw new Error('the browser process was not found');
}

function download(site) {
  const sizes = {};
  for (const name of ['snake.wasm', 'snake.js']) {
    const data = fs.readFileSync(path.join(site, name));
    sizes[name] = { bytes: data.length, gzip: zlib.gzipSync(data, { level: 9 }).length };
  }
  return sizes;
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
const mean = (values) => values.reduce((a, b) => a + b, 0) / values.length;

// Puts on the canvas and keys pressed, by the page's own clock, recorded from the start.
function instrument() {
  window.figures = { puts: [], keys: [] };
  const put = CanvasRenderingContext2D.prototype.putImageData;
  CanvasRenderingContext2D.prototype.putImageData = function (...args) {
    const result = put.apply(this, args);
    window.figures.puts.push(performance.now());
    return result;
  };
  window.addEventListener('keydown', (event) => window.figures.keys.push(event.timeStamp), true);
}

async function main() {
  const site = path.resolve(process.argv[2] || 'dist/web');
  const server = await serve(site);
  const url = `http://127.0.0.1:${server.address().port}/`;
  const userDir = fs.mkdtempSync(path.join(os.tmpdir(), 'web-figures-chromium-'));
  const context = await chromium.launchPersistentContext(userDir, {
    executablePath: CHROMIUM, headless: true, args: ARGS, viewport: { width: 1280, height: 720 },
  });
  const root = browserProcess(userDir);
  const page = context.pages()[0] || await context.newPage();
  await page.addInitScript(instrument);
  const screen = new Screen(page, () => {});
  const figures = { download: download(site) };
  try {
    const idle = [], blank = [];
    for (let round = 0; round < 2; ++round) {
      await page.goto(url);
      if (round === 0) {
        await page.waitForFunction(() => window.figures.puts.length > 0);
        figures.firstPictureMs = await page.evaluate(() => window.figures.puts[0]);
        figures.loadEventMs = await page.evaluate(() => performance.getEntriesByType('navigation')[0].loadEventEnd);
      }
      await screen.poll((f) => f.highlighted === 1, 30000, 250, 'the menu');
      await page.waitForTimeout(2000);
      idle.push(await cpuPercent(root, 30));
      await page.goto(`${url}blank.html`);
      await page.waitForTimeout(2000);
      blank.push(await cpuPercent(root, 30));
    }
    figures.idleMenuPercent = idle;
    figures.blankPagePercent = blank;
    figures.idleRatio = mean(idle) / mean(blank);

    await page.goto(url);
    await screen.poll((f) => f.highlighted === 1, 30000, 250, 'the menu');
    const latencies = [];
    for (let i = 0; i < 20; ++i) {
      const puts = await page.evaluate(() => window.figures.puts.length);
      await page.keyboard.press(i % 2 ? 'ArrowUp' : 'ArrowDown');
      await page.waitForFunction((n) => window.figures.puts.length > n, puts);
      latencies.push(await page.evaluate(() => {
        const f = window.figures;
        return f.puts[f.puts.length - 1] - f.keys[f.keys.length - 1];
      }));
      await page.waitForTimeout(200);
    }
    figures.keyToCanvasMs = { median: median(latencies), all: latencies };

    // As the desktop figures do: a turn every 300 ms around a 3 x 3 square from the countdown
    // on, measured for 30 s from the game's first step.
    await page.keyboard.press('Enter');
    let steering = true;
    const steer = (async () => {
      const turns = ['ArrowDown', 'ArrowLeft', 'ArrowUp', 'ArrowRight'];
      for (let i = 0; steering; ++i) {
        await page.keyboard.press(turns[i % 4]);
        await page.waitForTimeout(300);
      }
    })();
    await awaitGame(screen);
    figures.playingPercent = await cpuPercent(root, 30);
    steering = false;
    await steer;
    const frame = await screen.grab();
    if (!frame || !frame.snake.length) throw new Error('the snake was not playing when the figure was taken');
  } finally {
    await context.close();
    server.close();
    fs.rmSync(userDir, { recursive: true, force: true });
  }
  console.log(JSON.stringify(figures));
}

main().catch((error) => {
  console.log(`FAILED: ${error.message}`);
  process.exit(1);
});
