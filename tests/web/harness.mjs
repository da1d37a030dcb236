// Shared set-up of the browser tests: a `veldra ui` server with a private
// home, Debian's Chromium through playwright-core, no route to the internet.
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const nodeDir = process.env.VELDRA_NODE_DIR || path.join(here, '..', 'node');
const require = createRequire(path.join(nodeDir, 'package.json'));
export const { chromium } = require('playwright-core');

export const veldraBin = process.env.VELDRA_BIN;
if (!veldraBin) throw new Error('VELDRA_BIN is not set (run through ctest)');
export const shotDir = process.env.VELDRA_SHOT_DIR || path.join(path.dirname(veldraBin), 'web-screenshots');
fs.mkdirSync(shotDir, { recursive: true });

export function sleep(ms) { return new Promise((r) => setTimeout(r, ms)); }

// Resolves with the first match of `pattern` in what `proc` prints; rejects when it exits first.
function awaitOutput(proc, pattern, timeoutMs, what) {
  return new Promise((resolve, reject) => {
    let out = '';
    const timer = setTimeout(() => reject(new Error(`${what} did not start`)), timeoutMs);
    proc.stdout.on('data', (d) => {
      out += d;
      const m = pattern(out);
      if (m) { clearTimeout(timer); resolve(m); }
    });
    proc.on('exit', (code) => { clearTimeout(timer); reject(new Error(`${what} exited ${code}`)); });
  });
}

// Ends a child process (`end` asks it to; SIGKILL after 5 s) and resolves with its exit code.
async function stopProcess(proc, end) {
  if (proc.exitCode !== null || proc.signalCode !== null) return proc.exitCode;
  const done = new Promise((r) => proc.once('exit', (code) => r(code)));
  end();
  const t = setTimeout(() => proc.kill('SIGKILL'), 5000);
  const code = await done;
  clearTimeout(t);
  return code;
}

// Starts `veldra ui --no-browser` and resolves once it printed its addresses.
// `prepare(home)` runs before the start (e.g. to spoil the web folder).
// `endpoints` names a fixture server's endpoints file to use instead;
// `startMs` allows a slower start (the demo) more time.
export async function startUi({ args = ['--show-map'], prepare, project, endpoints, startMs = 15000 } = {}) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'veldra_web_'));
  for (const d of ['tmp', 'config', 'cache', 'diag', 'data']) fs.mkdirSync(path.join(home, d));
  // Every public service is refused inside the transport.
  fs.writeFileSync(path.join(home, 'endpoints.json'), JSON.stringify({ rewrite: [], strict: true }));
  if (endpoints) fs.copyFileSync(endpoints, path.join(home, 'endpoints.json'));
  if (prepare) prepare(home);
  const env = {
    ...process.env,
    TMPDIR: path.join(home, 'tmp'),
    XDG_CONFIG_HOME: path.join(home, 'config'),
    XDG_CACHE_HOME: path.join(home, 'cache'),
    XDG_DATA_HOME: path.join(home, 'data'),
    VELDRA_DIAG_DIR: path.join(home, 'diag'),
    VELDRA_OPEN_LOG: path.join(home, 'opened.txt'),
    VELDRA_ENDPOINTS: path.join(home, 'endpoints.json'),
    XDG_RUNTIME_DIR: '',
  };
  const full = ['ui', '--no-browser', ...args];
  if (project) full.push('--project', project);
  const proc = spawn(veldraBin, full, { env, stdio: ['ignore', 'pipe', 'pipe'] });
  let stderr = '', stdout = '';
  proc.stderr.on('data', (d) => { stderr += d; });
  proc.stdout.on('data', (d) => { stdout += d; });
  const urls = await awaitOutput(proc, (out) => {
    const host = /host: (\S+)/.exec(out);
    const map = /map: (\S+)/.exec(out);
    return host && (map || !args.includes('--show-map')) ? { host: host[1], map: map ? map[1] : null } : null;
  }, startMs, 'veldra ui').catch((e) => { throw new Error(`${e.message}: ${stderr}`); });
  const u = new URL(urls.host);
  const token = u.pathname.split('/')[1];
  return {
    ...urls, home, proc, token, port: Number(u.port), origin: u.origin,
    stderr: () => stderr,
    stdout: () => stdout,
    opened: () => { try { return fs.readFileSync(env.VELDRA_OPEN_LOG, 'utf8'); } catch { return ''; } },
    diag: () => { try { return fs.readFileSync(path.join(home, 'diag', 'orvane_web_diag.txt'), 'utf8'); } catch { return ''; } },
    stop: () => stopProcess(proc, () => proc.kill('SIGTERM')),
  };
}

// The fixture server with a scenario's data: `script` (a writer in this folder,
// built on the command-line tests' own fixtures) writes its manifest and prints
// the frame and centre. Resolves with those and a strict endpoints file sending
// every service to it; the server ends when `stop()` closes its standard input.
export async function startPlaceFixture({ script }) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'veldra_fx_'));
  const facts = JSON.parse(execFileSync('/usr/bin/python3', [path.join(here, script), path.join(dir, 'root')],
    { encoding: 'utf8' }));
  const endpoints = path.join(dir, 'endpoints.json');
  const proc = spawn(veldraBin, ['mock-services', '--root', path.join(dir, 'root'), '--port', '0',
    '--exit-on-stdin-eof', '--write-endpoints', endpoints], { stdio: ['pipe', 'pipe', 'pipe'] });
  const port = Number((await awaitOutput(proc, (out) => /PORT (\d+)/.exec(out), 10000, 'mock-services'))[1]);
  const table = JSON.parse(fs.readFileSync(endpoints, 'utf8'));
  const [origin, alias] = facts.rewrite;
  table.rewrite = [[origin, `http://127.0.0.1:${port}/${alias}`], ...table.rewrite];
  fs.writeFileSync(endpoints, JSON.stringify(table));
  return {
    ...facts, endpoints, port,
    stop: () => stopProcess(proc, () => proc.stdin.end()),
  };
}

// A project file of the stand-in host: the default layer and `layers`, the elements, a location.
export function projectFile({ layers = [], elements = [], nextGuid = 1, geolocation } = {}) {
  const file = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'veldra_proj_')), 'p.json');
  fs.writeFileSync(file, JSON.stringify({
    format: 'veldra-project', version: 1, activeFloor: 0, nextGuid,
    attributes: { layers: [{ index: 1, name: 'Domyslna' }, ...layers], fillTypes: [], surfaceMaterials: [], buildingMaterials: [] },
    geolocation, elements,
  }));
  return file;
}

// Both views of the host window show the project's current revision.
export async function viewsCurrent(page, timeout = 30000) {
  await page.waitForFunction(() => {
    const f = window.VeldraViews.files;
    return f.plan && f.model && f.plan.revision === f.model.revision &&
      window.VeldraPlan.stats.revision === f.plan.revision && window.VeldraView3D.stats.revision === f.model.revision;
  }, null, { timeout });
}

export async function launchBrowser() {
  return chromium.launch({
    executablePath: '/usr/bin/chromium', headless: true,
    args: ['--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync', '--disable-dev-shm-usage'],
  });
}

// A context whose requests may only reach the loopback server.
export async function newContext(browser, options = {}) {
  const ctx = await browser.newContext({ viewport: { width: 1280, height: 800 }, ...options });
  await ctx.route((url) => !url.href.startsWith('http://127.0.0.1:'), (route) => route.abort());
  // Record every text the page hands to the native object.
  await ctx.addInitScript(() => {
    window.__sent = [];
    let gis;
    Object.defineProperty(window, 'GIS', {
      configurable: true,
      get() { return gis; },
      set(v) {
        if (v && typeof v.postMessage === 'function' && !v.__recorded) {
          v.__recorded = true;
          const orig = v.postMessage;
          v.postMessage = function (t) {
            window.__sent.push(t);
            // Types listed in window.__drop stop here (the test answers them itself).
            try { if ((window.__drop || []).includes(JSON.parse(t).type)) return true; } catch (e) { /* not JSON */ }
            return orig.call(this, t);
          };
        }
        gis = v;
      },
    });
  });
  return ctx;
}

// A new page at url, its script errors gathered in page.__errors.
export async function openPage(ctx, url) {
  const page = await ctx.newPage();
  page.__errors = [];
  page.on('pageerror', (e) => page.__errors.push(String(e)));
  await page.goto(url, { timeout: 15000 });
  return page;
}

// The host window, its menu built.
export async function openHost(ctx, srv) {
  const page = await openPage(ctx, srv.host);
  await page.waitForSelector('#menuItems li', { state: 'attached', timeout: 10000 });
  return page;
}

// Runs body(page, srv, ctx) on the host window of a `veldra ui` of its own (started with startUi's
// `options`) in a browser context of its own, set up first by `context(ctx)` when given; the page
// must end without a script error and the program cleanly.
export async function withHost(browser, { context, ...options }, body) {
  const srv = await startUi({ args: [], ...options });
  const ctx = await newContext(browser);
  try {
    if (context) await context(ctx);
    const page = await openHost(ctx, srv);
    await body(page, srv, ctx);
    assert.deepEqual(page.__errors, []);
  } finally {
    await ctx.close();
    assert.equal(await srv.stop(), 0, srv.stderr());
  }
}

// Picks the host window's menu item whose text holds `label`.
export async function menu(page, label) {
  await page.click('#menuTop');
  await page.locator('#menuItems li', { hasText: label }).click();
}

export async function openMap(ctx, srv) {
  const page = await openPage(ctx, srv.map);
  await page.waitForFunction(() => document.getElementById('buildTag').textContent.startsWith('v'), null, { timeout: 10000 });
  await recordReceived(page);
  return page;
}

// Records in window.__recv what the native side delivers to a map page (or frame) from now on.
export function recordReceived(page) {
  return page.evaluate(() => {
    window.__recv = [];
    const r = window.GISBridge.receive;
    window.GISBridge.receive = (m) => { window.__recv.push(m); r(m); };
  });
}

// Messages the page posted, parsed, optionally of one type.
export async function sent(page, type) {
  const all = (await page.evaluate(() => window.__sent)).map((t) => { try { return JSON.parse(t); } catch { return t; } });
  return type ? all.filter((m) => m && m.type === type) : all;
}

export async function shot(page, name) {
  const file = path.join(shotDir, name + '.png');
  await page.screenshot({ path: file });
  return file;
}

// The map palette shown in the host window, ready (its build tag begins with `tag`), and
// ask(msg, types): sends one message as the page does and gives the first answer of those types.
export async function paletteMap(page, tag = 'v') {
  await page.waitForSelector('#palette:not([hidden])');
  await page.frameLocator('#paletteFrame').locator('#buildTag', { hasText: tag }).waitFor({ timeout: 10000 });
  const map = page.frames().find((f) => f.url().includes('/map/map.html'));
  await map.waitForFunction(() => window.GIS && window.GISBridge);
  await recordReceived(map);
  const ask = async (msg, types) => {
    const from = await map.evaluate(() => window.__recv.length);
    await map.evaluate((m) => window.GIS.postMessage(JSON.stringify(m)), msg);
    return (await map.waitForFunction(([i, ts]) => window.__recv.slice(i).find((m) => ts.includes(m.type)),
      [from, types], { timeout: 60000 })).jsonValue();
  };
  return { map, ask };
}
