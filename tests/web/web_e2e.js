#!/usr/bin/env node
// The web build played in headless Chromium as a player would, from a plain static server:
//
//   node web_e2e.js SITE_DIR RECORD_SCORE
//
// Two players in two tabs: the intro, the menu and its keys, games in which a bot that reads the
// canvas steers the snake onto a prize, the end screen, "Quit", the name typed into the page's
// field (its limit first). Both press Enter while the first one's merge is held between its read
// and its write: the second must wait for it, and the table must then hold both, byte for byte what the desktop game
// writes for the same results (RECORD_SCORE records them natively). After a reload "Best players"
// lists them. Last, a browser without storage says so in the page and still plays. Nothing may
// appear in the pages' consoles.
// Exit code 0 when it passed, 1 when it failed.

const { chromium } = require('playwright-core');
const { execFileSync } = require('child_process');
const fs = require('fs');
const http = require('http');
const os = require('os');
const path = require('path');
const { Screen, MENU, awaitGame, playOneGame } = require('./screen.js');

const NAME = 'Tester';
const TOTAL_MS = 240000;
const PLAY_MS = 60000;
const CHROMIUM = process.env.CHROMIUM || '/usr/bin/chromium';
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm',
  '.svg': 'image/svg+xml' };

const started = Date.now();
const log = (message) => console.log(`[${((Date.now() - started) / 1000).toFixed(2).padStart(6)}s] ${message}`);
function check(condition, message) {
  if (!condition) throw new Error(message);
}

// A static server with nothing special about it: no cross-origin isolation headers.
function serve(root) {
  const server = http.createServer((request, response) => {
    const name = path.normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = path.join(root, name === '/' ? 'index.html' : name);
    fs.readFile(file, (error, data) => {
      if (error || !file.startsWith(root)) {
        response.writeHead(404).end();
        return;
      }
      response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] || 'application/octet-stream' });
      response.end(data);
    });
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

// Everything the page says in its console, and every failed request, is a failure.
function watch(page, problems, label) {
  page.on('console', (m) => problems.push(`${label} console.${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => problems.push(`${label} page error: ${e.message}`));
  page.on('requestfailed', (r) => problems.push(`${label} request failed: ${r.url()}`));
  page.on('response', (r) => { if (r.status() >= 400) problems.push(`${label} HTTP ${r.status()}: ${r.url()}`); });
  page.on('dialog', (d) => { problems.push(`${label} dialog: ${d.message()}`); d.dismiss(); });
}

// The stored table, read from IndexedDB as any page script could.
function storedTable(page) {
  return page.evaluate(() => new Promise((resolve, reject) => {
    const request = indexedDB.open('snake-garden');
    request.onerror = () => reject(request.error);
    request.onsuccess = () => {
      const db = request.result;
      if (!db.objectStoreNames.contains('files')) {
        db.close();
        return resolve(null);
      }
      const get = db.transaction('files').objectStore('files').get('scores.db');
      get.onsuccess = () => {
        db.close();
        resolve(get.result ? Array.from(new Uint8Array(get.result)) : null);
      };
      get.onerror = () => reject(get.error);
    };
  }));
}

async function choose(screen, index) {
  await screen.poll((f) => f.highlighted === 1, 20000, 100, 'the menu');
  for (let below = 2; below <= index; ++below) {
    await screen.key('ArrowDown');
    await screen.poll((f) => f.highlighted === below, 3000, 30, `"${MENU[below - 1]}" highlighted`);
  }
  await screen.key('Enter');
  log(`chose "${MENU[index - 1]}"`);
}

async function intro(screen) {
  // The presenter's line is typed letter by letter from 2 s on.
  await screen.poll((f) => f.introLine > 200, 15000, 100, 'the intro');
  log('the intro is typing its first line');
}

// From the menu: games until the bot has eaten a prize, each ended on its end screen, then
// "Quit"; the page then asks the name.
async function playToTheName(page, screen, who) {
  let eaten = 0;
  const playDeadline = Date.now() + PLAY_MS;
  while (!eaten) {
    await choose(screen, 1);
    await awaitGame(screen);
    eaten = await playOneGame(screen, playDeadline);
    if (eaten) await screen.key('Escape');
    const end = await screen.poll((f) => f.endScreen, 5000, 30, 'the end screen');
    check(end.endScreen, 'no end screen');
    await screen.key('Escape');
  }
  log(`${who} ate ${eaten}; the end screen showed`);
  await choose(screen, 4);
  await page.waitForSelector('#name', { state: 'visible', timeout: 10000 });
  check(await page.isHidden('#screen'), 'the canvas is still shown at the name prompt');
  const prompt = await page.textContent('#output');
  check(prompt.endsWith('Enter your name : '), `the page says ${JSON.stringify(prompt)} before the field`);
  check(await page.evaluate(() => document.activeElement.id) === 'name', 'the name field has no focus');
  return eaten;
}

async function firstPlayer(page, screen) {
  await intro(screen);
  await screen.poll((f) => f.highlighted === 1, 20000, 100, 'the menu');
  log(`menu on a ${screen.last.width}x${screen.last.height} canvas`);
  await screen.key('ArrowDown');
  await screen.poll((f) => f.highlighted === 2, 3000, 30, 'Down to move the highlight');
  await screen.key('ArrowUp');
  await screen.poll((f) => f.highlighted === 1, 3000, 30, 'Up to move it back');
  log('Down and Up move the highlight');
  const eaten = await playToTheName(page, screen, 'the first player');
  // 130 two-byte characters: the field keeps 127 of them, 254 bytes; ESC clears it.
  await page.keyboard.type('é'.repeat(130));
  const long = await page.inputValue('#name');
  check(long === 'é'.repeat(127), `the field kept ${Buffer.byteLength(long)} bytes: ${long.length} characters`);
  await page.keyboard.press('Escape');
  check(await page.inputValue('#name') === '', 'ESC did not clear the field');
  log('the name field keeps 254 bytes of whole characters; ESC clears it');
  return eaten;
}

// The page after Enter: the name on the prompt's line, the best score alone on the next, the
// program ended with code 0.
async function recorded(page, name, eaten) {
  await page.waitForSelector('#again', { state: 'visible', timeout: 15000 });
  const transcript = await page.textContent('#output');
  const lines = transcript.split('Enter your name : ')[1].split('\n');
  check(lines[0] === name && /^\d+$/.test(lines[1]) && lines.slice(2).every((l) => !l),
    `the page shows ${JSON.stringify(transcript)} after the name`);
  const best = Number(lines[1]);
  check(best >= eaten, `best score ${best}, but ${eaten} eaten`);
  check(await page.evaluate(() => EXITSTATUS) === 0, 'the program did not end with code 0');
  return best;
}

// Both players press Enter while the first one's merge is held between its read of the table and
// its write: the second merge must wait for it, and then take the table with the first result in.
async function mergeAtOnce(first, second, eaten) {
  await first.page.evaluate(() => {
    // The merge's read of "scores.db" is answered only when the test lets go; requests one after
    // another keep its transaction alive meanwhile.
    const get = IDBObjectStore.prototype.get;
    IDBObjectStore.prototype.get = function (key) {
      if (key !== 'scores.db' || window.holdingRead) return get.call(this, key);
      const store = this;
      const real = get.call(store, key);
      const late = { result: undefined, error: null, onsuccess: null, onerror: null };
      real.onsuccess = () => {
        late.result = real.result;
        window.holdingRead = true;
        const hold = () => {
          if (window.releaseRead) late.onsuccess();
          else get.call(store, key).onsuccess = hold;
        };
        hold();
      };
      real.onerror = (event) => {
        late.error = real.error;
        late.onerror(event);
      };
      return late;
    };
  });
  await first.page.keyboard.type(first.name);
  await first.page.keyboard.press('Enter');
  await first.page.waitForFunction(() => window.holdingRead);
  await second.page.keyboard.type(second.name);
  await second.page.keyboard.press('Enter');
  await second.page.waitForTimeout(1000);
  check(await second.page.isHidden('#again'), "the second merge ended in the middle of the first");
  await first.page.evaluate(() => { window.releaseRead = true; });
  const bests = [await recorded(first.page, first.name, eaten[0]), await recorded(second.page, second.name, eaten[1])];
  log(`two tabs merged at once: ${first.name} ${bests[0]}, ${second.name} ${bests[1]}; each page echoed its name and score`);
  return bests;
}

// The table in the browser, byte for byte what the desktop game writes for the same results
// recorded in the same order.
async function compareWithDesktop(page, results, recordScore) {
  const stored = await storedTable(page);
  check(stored, 'nothing stored under scores.db');
  const directory = fs.mkdtempSync(path.join(os.tmpdir(), 'web-e2e-'));
  for (const [name, best] of results) execFileSync(recordScore, [directory, String(best), name]);
  const desktop = fs.readFileSync(path.join(directory, 'scores.db'));
  fs.rmSync(directory, { recursive: true });
  check(desktop.length === 2582, `the desktop wrote ${desktop.length} bytes`);
  check(stored.length === desktop.length, `the page stored ${stored.length} bytes`);
  const first = stored.findIndex((byte, i) => byte !== desktop[i]);
  check(first < 0, `the stored table differs from the desktop's at byte ${first}`);
  log('the stored table is byte for byte what the desktop game writes for the same two results');
}

// "Best players" after a reload: the rows of the table, in its order.
async function bestPlayers(page, screen, rows) {
  await page.reload();
  await choose(screen, 3);
  const frame = await screen.poll((f) => f.highlighted === null, 5000, 50, 'the high-score screen');
  const { mx2, my2 } = frame;
  for (const [index, [name, best]] of rows.entries()) {
    const y = my2 + 20 * (index + 1);
    const texts = [['row number', mx2 - 10, `${index + 1}. `], ['name', mx2 + 45, name],
      ['score', mx2 + 200, String(best).padStart(3)]];
    for (const [what, x, text] of texts) {
      const cells = [...text].map((_, k) => [x + 16 * k, y, 16, 16]);
      const ink = await screen.redInk([...cells, [x - 6, y, 6, 16], [x + 16 * text.length, y, 6, 16]]);
      [...text].forEach((character, k) => check((ink[k] > 0) === (character !== ' '),
        `row ${index + 1}, ${what}: character ${k} ${JSON.stringify(character)} has ${ink[k]} red pixels`));
      check(ink[text.length] === 0 && ink[text.length + 1] === 0, `row ${index + 1}: ${what} is not where it should be`);
    }
  }
  const [below] = await screen.redInk([[mx2 - 30, my2 + 20 * (rows.length + 1), 300, 24]]);
  check(below === 0, `${below} red pixels where another row would be`);
  log(`after a reload, "Best players" lists ${rows.map(([n, b]) => `${n} ${b}`).join(', ')}`);
  await screen.key('Escape');
}

// A browser that gives the page no IndexedDB at all (as some private windows do).
async function noStorage(browserContext, url, problems) {
  const page = await browserContext.newPage();
  watch(page, problems, 'no storage');
  await page.addInitScript(() => {
    Object.defineProperty(window, 'indexedDB', {
      get() { throw new DOMException('The user denied permission to access the database.', 'SecurityError'); },
    });
  });
  await page.goto(url);
  await page.waitForSelector('#notice', { state: 'visible', timeout: 10000 });
  const text = await page.textContent('#notice');
  check(/no storage/.test(text), `the notice says ${JSON.stringify(text)}`);
  const screen = new Screen(page, log);
  await screen.poll((f) => f.highlighted === 1, 25000, 200, 'the menu without storage');
  await page.close();
  log('without storage the page says so and the game still reaches its menu');
}

async function main() {
  const [site, recordScore] = process.argv.slice(2).map((p) => p && path.resolve(p));
  check(site && recordScore, 'usage: web_e2e.js SITE_DIR RECORD_SCORE');
  const timer = setTimeout(() => { console.log(`FAILED: still not done after ${TOTAL_MS / 1000} s`); process.exit(1); }, TOTAL_MS);
  const server = await serve(site);
  const url = `http://127.0.0.1:${server.address().port}/`;
  const userDir = fs.mkdtempSync(path.join(os.tmpdir(), 'web-e2e-chromium-'));
  const context = await chromium.launchPersistentContext(userDir, {
    executablePath: CHROMIUM, headless: true, args: ARGS, viewport: { width: 1280, height: 720 },
  });
  const problems = [];
  const page = context.pages()[0] || await context.newPage();
  watch(page, problems, 'page');
  const screen = new Screen(page, log);
  let failed = null;
  try {
    log(`serving ${site} at ${url}`);
    await page.goto(url);
    // The second player's tab goes through its intro meanwhile.
    const secondPage = await context.newPage();
    watch(secondPage, problems, 'second tab');
    await secondPage.goto(url);
    const second = { page: secondPage, screen: new Screen(secondPage, log), name: 'Second' };
    const eaten = [await firstPlayer(page, screen)];
    eaten.push(await playToTheName(second.page, second.screen, 'the second player'));
    const bests = await mergeAtOnce({ page, name: NAME }, second, eaten);
    // Higher scores first; a tie keeps the order the two were recorded in.
    const rows = [[NAME, bests[0]], [second.name, bests[1]]].sort((a, b) => b[1] - a[1]);
    await compareWithDesktop(page, [[NAME, bests[0]], [second.name, bests[1]]], recordScore);
    await bestPlayers(page, screen, rows);
    await noStorage(context, url, problems);
    check(problems.length === 0, `the page's console was not quiet:\n  ${problems.join('\n  ')}`);
  } catch (error) {
    failed = error;
    console.log(`--- ${screen.report()}`);
    console.log(`--- page console: ${problems.join('\n  ') || 'quiet'}`);
    await page.screenshot({ path: path.join(os.tmpdir(), 'web-e2e-failure.png') }).catch(() => {});
  } finally {
    clearTimeout(timer);
    await context.close();
    server.close();
    fs.rmSync(userDir, { recursive: true, force: true });
  }
  if (failed) {
    console.log(`FAILED: ${failed.message}`);
    process.exit(1);
  }
  log('passed');
}

main();
