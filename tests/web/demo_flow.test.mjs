// The whole first use, offline, on the embedded sample area: the map palette
// on the demo's own base map, every layer ticked, fetched and added to the
// project, seen in the plan and the 3D view, exported (DXF read by ezdxf, GLB
// by the Khronos validator), the duplicate remover run and the import undone.
// Nothing may ask anything but 127.0.0.1: the browser context refuses every
// other address and records it, the program's rewrite is strict.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { withHost, launchBrowser, menu, paletteMap, shot, viewsCurrent } from './harness.mjs';

const nodeDir = process.env.VELDRA_NODE_DIR || path.join(import.meta.dirname, '..', 'node');
const DEMO_TEXT = 'Tryb demonstracyjny: dane przykladowe, bez internetu';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

const layerCounts = (page) => page.evaluate(() => Object.fromEntries(
  [...document.querySelectorAll('#layerTable tbody tr')].map((r) => [r.cells[0].textContent, Number(r.cells[1].textContent)])));

async function dismissModal(page, startsWith) {
  await page.waitForFunction((t) => !document.getElementById('modal').hidden &&
    document.getElementById('modalText').textContent.startsWith(t), startsWith, { timeout: 60000 });
  const text = await page.textContent('#modalText');
  await page.click('#modalButtons button');
  return text;
}

test('the demo: frame, tick, fetch, add, plan and 3D, export, clean up, undo - all offline', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'veldra_demo_'));
  const project = path.join(dir, 'demo.json');
  const foreign = [];
  const context = async (ctx) => {
    ctx.on('request', (r) => { if (!r.url().startsWith('http://127.0.0.1:')) foreign.push(r.url()); });
    // What the demo's Content-Security-Policy refused, per page.
    await ctx.addInitScript(() => {
      window.__refused = [];
      document.addEventListener('securitypolicyviolation', (e) => window.__refused.push(e.blockedURI));
    });
  };
  await withHost(browser, { args: ['--demo'], project, startMs: 30000, context }, async (page, srv) => {
    assert.ok(srv.stdout().includes(DEMO_TEXT), srv.stdout());
    await menu(page, 'Mapa importu GIS');
    const { map } = await paletteMap(page);
    const tiles = await map.evaluate(() => window.VELDRA_DEMO.tiles);
    const tileBase = tiles.slice(0, tiles.indexOf('{'));
    await map.waitForFunction((t) => document.getElementById('statusLabel').textContent.startsWith(t), DEMO_TEXT);
    assert.equal(await map.textContent('#demoTag'), DEMO_TEXT);
    await map.waitForFunction((base) => [...document.querySelectorAll('img.leaflet-tile-loaded')]
      .some((i) => i.src.startsWith(base)), tileBase, { timeout: 20000 });
    await shot(page, 'demo_palette');
    // The page may show pictures from the demo's server only.
    await map.evaluate(() => { new Image().src = 'http://127.0.0.1:9/elsewhere.png'; });
    await map.waitForFunction(() => window.__refused.length > 0, null, { timeout: 5000 });
    assert.deepEqual(await map.evaluate(() => window.__refused), ['http://127.0.0.1:9/elsewhere.png']);

    // Every layer the palette offers.
    const boxes = map.locator('#panel label:not([hidden]) input[type=checkbox]');
    for (let i = 0; i < await boxes.count(); i++) await boxes.nth(i).check();
    // A coarser terrain keeps the exports small enough for ezdxf to read quickly.
    await map.selectOption('#terrainStep', '5');
    await map.click('#btnSetOrigin');
    await map.waitForFunction(() => window.__recv.some((m) => m.type === 'originSet'), null, { timeout: 30000 });
    await map.click('#btnFetch');
    const fetched = await (await map.waitForFunction(() => window.__recv.find((m) => m.type === 'fetchDone'),
      null, { timeout: 240000 })).jsonValue();
    const asked = (await map.evaluate(() => window.__sent)).map((t) => JSON.parse(t)).find((m) => m.type === 'fetch');
    assert.doesNotMatch(fetched.warning || '', /Brak polaczenia/);
    await shot(page, 'demo_fetched');
    await map.click('#btnPlace');
    const placed = await (await map.waitForFunction(() => window.__recv.find((m) => m.type === 'placeDone' || m.type === 'error'),
      null, { timeout: 240000 })).jsonValue();
    assert.equal(placed.type, 'placeDone', JSON.stringify(placed));

    // The plan and the 3D view of the project's current revision, element counts by layer.
    await page.click('#paletteClose');
    await page.waitForFunction(() => window.VeldraPlan.stats.elements > 0, null, { timeout: 120000 });
    await viewsCurrent(page, 120000);
    const counts = await layerCounts(page);
    const doc = await page.evaluate(async () => (await fetch(window.VeldraViews.files.plan.name)).json());
    const inPlan = {};
    for (const l of doc.layers) inPlan[l.name] = doc.elements.filter((e) => e.layer === l.index).length;
    for (const layer of ['GIS_DZIALKI', 'GIS_BUDYNKI']) assert.ok(counts[layer] > 0 && inPlan[layer] > 0, layer);
    // Every ticked kind yields data, and each goes to a layer of its own.
    const filled = Object.keys(counts).filter((l) => l.startsWith('GIS_') && counts[l] > 0);
    assert.ok(filled.length >= asked.layers.length, `${filled.length} layers with elements for ${asked.layers.length} kinds`);
    assert.ok((await page.evaluate(() => window.VeldraView3D.meshNames())).length > 0);
    await page.locator('#views').scrollIntoViewIfNeeded();
    await shot(page, 'demo_project');

    // Exports beside the project, read by programs of others.
    const outputs = {};
    for (const [button, ext] of [['#btnExportDxf', '.dxf'], ['#btnExportGltf', '.glb']]) {
      await page.click(button);
      outputs[ext] = (await dismissModal(page, 'Zapisano ')).slice('Zapisano '.length);
      assert.equal(path.extname(outputs[ext]), ext);
    }
    const dxf = JSON.parse(execFileSync('/usr/bin/python3', ['-c', `import ezdxf, json, collections, sys
d = ezdxf.readfile(sys.argv[1]); a = d.audit()
print(json.dumps({"errors": len(a.errors), "layers": collections.Counter(e.dxf.layer for e in d.modelspace())}))`,
    outputs['.dxf']], { encoding: 'utf8' }));
    assert.equal(dxf.errors, 0);
    for (const layer of ['GIS_DZIALKI', 'GIS_BUDYNKI']) assert.ok(dxf.layers[layer] > 0, JSON.stringify(dxf.layers));
    const issues = JSON.parse(execFileSync('node', [path.join(nodeDir, 'gltf_validate.js'), outputs['.glb']], { encoding: 'utf8' }));
    assert.equal(issues.numErrors, 0, JSON.stringify(issues.messages?.slice(0, 5)));

    // The duplicate remover, then undo back to the empty project.
    await menu(page, 'Czyszczenie duplikatow');
    await page.waitForSelector('#modal:not([hidden])');
    await page.locator('#modalButtons button', { hasText: 'Uruchom' }).click();
    await page.waitForFunction(() => !document.getElementById('modalText').textContent.startsWith('Usuwa'));
    assert.match(await page.textContent('#modalText'), /duplik/);
    await shot(page, 'demo_cleanup');
    await page.click('#modalButtons button');
    const state = () => page.evaluate(() => ['elementTotal', 'btnUndo'].map((id) => document.getElementById(id).textContent).join());
    for (let i = 0; i < 3 && (await page.textContent('#elementTotal')) !== 'Elementy w projekcie: 0'; i++) {
      const was = await state();
      await page.click('#btnUndo');
      await page.waitForFunction((w) => ['elementTotal', 'btnUndo'].map((id) => document.getElementById(id).textContent).join() !== w, was);
    }
    assert.equal(await page.textContent('#elementTotal'), 'Elementy w projekcie: 0');
    await shot(page, 'demo_undone');

    // Whatever the program asked, the demo's data answered (map tiles beyond the data may be missing).
    const fixture = /^demo: .* \((http:\/\/127\.0\.0\.1:\d+)\)$/m.exec(srv.stdout())[1];
    const stats = await (await fetch(fixture + '/__stats')).json();
    const unanswered = stats.requests.filter((r) => r.route === null && !r.path.startsWith('/demo-tiles/'));
    assert.deepEqual(unanswered.map((r) => r.path), []);
    assert.deepEqual(foreign, []);
    assert.deepEqual(await page.evaluate(() => window.__refused), []);
    // The demo's answers never land in the user's own download cache.
    const userCache = path.join(srv.home, 'cache', 'VELDRA', 'cache');
    assert.deepEqual(fs.existsSync(userCache) ? fs.readdirSync(userCache) : [], []);
  });
  // Saved on the way out: the project after the undo, without an imported element.
  const saved = JSON.parse(fs.readFileSync(project, 'utf8'));
  const gisLayers = new Set(saved.attributes.layers.filter((l) => l.name.startsWith('GIS_')).map((l) => l.index));
  assert.equal(saved.elements.filter((e) => gisLayers.has(e.layer)).length, 0);
});

test('the demo: the point-cloud palette on the demo tiles downloads the sample LiDAR', async () => {
  await withHost(browser, { args: ['--demo'], startMs: 30000 }, async (page, srv) => {
    await menu(page, 'Chmura punktow');
    await page.waitForSelector('#cloudPalette:not([hidden])');
    await page.frameLocator('#cloudFrame').locator('#buildTag', { hasText: 'v' }).waitFor({ timeout: 10000 });
    const cloud = page.frames().find((f) => f.url().includes('/cloud/cloud.html'));
    await cloud.waitForFunction((t) => document.getElementById('statusLabel').textContent.startsWith(t), DEMO_TEXT);
    const tiles = await cloud.evaluate(() => window.VELDRA_DEMO.tiles);
    await cloud.waitForFunction((base) => [...document.querySelectorAll('img.leaflet-tile-loaded')]
      .some((i) => i.src.startsWith(base)), tiles.slice(0, tiles.indexOf('{')), { timeout: 20000 });
    await cloud.click('#btnDownload');
    await Promise.race([page.waitForSelector('#modal:not([hidden])', { timeout: 120000 }),
      cloud.waitForSelector('#resultText.failed', { timeout: 120000 })]);
    const target = path.join(srv.home, 'data', 'Orvane_Cloud', 'ostatnia_chmura.e57');
    assert.ok(fs.existsSync(target), await cloud.textContent('#resultText'));
    assert.equal(fs.readFileSync(target).subarray(0, 8).toString(), 'ASTM-E57');
    await shot(page, 'demo_cloud_done');
  });
});
