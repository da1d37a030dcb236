// The host window's plan and 3D views: an import through the fixture server
// seen in both, a hidden layer, a box selection, undo. (A large project's plan
// and model are the host benchmarks'.)
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { withHost, startPlaceFixture, launchBrowser, paletteMap, shot, shotDir, viewsCurrent } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

// RGB of screenshot pixels at CSS positions, decoded by the browser itself.
async function pixels(page, png, points) {
  return page.evaluate(async ([b64, pts]) => {
    const bmp = await createImageBitmap(await (await fetch('data:image/png;base64,' + b64)).blob());
    const c = new OffscreenCanvas(bmp.width, bmp.height).getContext('2d');
    c.drawImage(bmp, 0, 0);
    return pts.map(([x, y]) => Array.from(c.getImageData(Math.round(x), Math.round(y), 1, 1).data.slice(0, 3)));
  }, [png.toString('base64'), points]);
}
// Something drawn within a pixel of a point (lines are one antialiased pixel wide).
async function inked(page, png, [x, y]) {
  const around = [];
  for (let dx = -1; dx <= 1; dx++) for (let dy = -1; dy <= 1; dy++) around.push([x + dx, y + dy]);
  return Math.min(...(await pixels(page, png, around)).flat()) < 200;
}

test('an import shows in the plan and the 3D view; layers hide, a box selects, undo clears both', async (t) => {
  const fx = await startPlaceFixture({ script: 'views_fixture.py' });
  t.after(() => fx.stop());
  const project = path.join(fs.mkdtempSync(path.join(os.tmpdir(), 'veldra_proj_')), 'views.json');
  await withHost(browser, { args: ['--show-map'], project, endpoints: fx.endpoints }, async (page) => {
    await page.waitForFunction(() => window.VeldraPlan && window.VeldraView3D, null, { timeout: 15000 });
    const { ask } = await paletteMap(page);
    assert.equal((await ask({ type: 'setOrigin', lat: fx.lat, lon: fx.lon }, ['originSet', 'error'])).type, 'originSet');
    const done = await ask({ type: 'fetch', bboxWgs84: fx.bbox, layers: ['dzialki', 'budynki', 'teren', 'budynki3d'],
      terrainStep: 5 }, ['fetchDone']);
    assert.equal(done.counts.budynki3d, 2, JSON.stringify(done));
    const placed = await ask({ type: 'place' }, ['placeDone', 'error']);
    assert.equal(placed.type, 'placeDone', JSON.stringify(placed));
    await page.click('#paletteClose');
    await page.waitForSelector('#palette[hidden]', { state: 'attached' });
    await viewsCurrent(page);

    // The fixture's parcels are 10 m squares side by side; the left one is d1.
    const doc = await page.evaluate(async () => (await fetch(window.VeldraViews.files.plan.name)).json());
    const layerOf = Object.fromEntries(doc.layers.map((l) => [l.name, l.index]));
    const parcels = doc.elements.filter((e) => e.layer === layerOf.GIS_DZIALKI && e.type === 'polyline')
      .map((e) => ({ id: e.id, ring: e.parts[0], xs: e.parts[0].filter((_, i) => i % 2 === 0), ys: e.parts[0].filter((_, i) => i % 2 === 1) }))
      .sort((a, b) => Math.min(...a.xs) - Math.min(...b.xs));
    assert.equal(parcels.length, 2, JSON.stringify(doc.elements.map((e) => [e.layer, e.type, e.info])));
    const side = (r, i) => Math.hypot(r[i + 2] - r[i], r[i + 3] - r[i + 1]);
    for (const p of parcels) assert.ok(Math.abs(side(p.ring, 0) - 10) < 0.05, JSON.stringify(p.ring));
    const [d1, d2] = parcels;
    // The middle of d1's first edge, and a point 6 px outside it.
    const mid = [(d1.ring[0] + d1.ring[2]) / 2, (d1.ring[1] + d1.ring[3]) / 2];
    const centre = [d1.xs.slice(0, 4).reduce((a, b) => a + b) / 4, d1.ys.slice(0, 4).reduce((a, b) => a + b) / 4];
    await page.locator('#planCanvas').scrollIntoViewIfNeeded();
    const toPage = (pts) => page.evaluate((ps) => {
      const r = document.getElementById('planCanvas').getBoundingClientRect();
      return ps.map(([x, y]) => { const p = window.VeldraPlan.worldToScreen(x, y); return [r.left + p.x, r.top + p.y]; });
    }, pts);
    const [edge, c] = await toPage([mid, centre]);
    const len = Math.hypot(edge[0] - c[0], edge[1] - c[1]);
    const beside = [edge[0] + (edge[0] - c[0]) / len * 6, edge[1] + (edge[1] - c[1]) / len * 6];

    let png = fs.readFileSync(await shot(page, 'views_imported'));
    assert.ok(await inked(page, png, edge) && !(await inked(page, png, beside)), 'parcel edge not drawn alone');
    await page.check('[data-view-layer="GIS_DZIALKI"]');
    await page.uncheck('[data-view-layer="GIS_DZIALKI"]');
    await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
    png = fs.readFileSync(await shot(page, 'views_parcels_hidden'));
    assert.ok(!(await inked(page, png, edge)), 'hidden parcel edge still drawn');
    await page.check('[data-view-layer="GIS_DZIALKI"]');

    // 3D: the terrain and both LOD1 blocks, drawn (the view is not just its background).
    const names = await page.evaluate(() => window.VeldraView3D.meshNames());
    assert.ok(names.includes('b1') && names.includes('b2') && names.includes('GIS_TEREN'), JSON.stringify(names));
    const view = await page.locator('#view3d').boundingBox();
    png = await page.locator('#view3d').screenshot({ path: path.join(shotDir, 'views_3d.png') });
    const grid = [];
    for (let i = 1; i < 10; i++) for (let j = 1; j < 10; j++) grid.push([view.width * i / 10, view.height * j / 10]);
    const bg = (await pixels(page, png, [[2, 2]]))[0];
    const drawn = (await pixels(page, png, grid)).filter((c) => c.some((v, k) => Math.abs(v - bg[k]) > 12)).length;
    assert.ok(drawn > 5, `only ${drawn} of ${grid.length} samples differ from the background`);

    // A box around d1 only picks d1's elements; the host's selection follows.
    const [a, b] = await toPage([[Math.min(...d1.xs) - 1, Math.max(...d1.ys) + 1], [Math.max(...d1.xs) + 1, Math.min(...d1.ys) - 1]]);
    await page.keyboard.down('Control');
    await page.mouse.move(a[0], a[1]);
    await page.mouse.down();
    await page.mouse.move(b[0], b[1], { steps: 4 });
    await page.mouse.up();
    await page.keyboard.up('Control');
    const picked = await page.evaluate(() => window.VeldraPlan.selected());
    assert.ok(picked.includes(d1.id) && !picked.includes(d2.id), JSON.stringify(picked));
    await page.waitForFunction((n) => document.getElementById('selCount').textContent === 'Zaznaczone elementy: ' + n,
      picked.length, { timeout: 5000 });
    assert.match(await page.textContent('#planSelection'), /GIS_DZIALKI \| Linia/);
    await shot(page, 'views_selected');
    // A selection made elsewhere (the selection pane) shows in the plan too.
    await page.fill('#selElements', d2.id);
    await page.click('#btnSelect');
    await page.waitForFunction((id) => window.VeldraPlan.selected().join() === id, d2.id, { timeout: 5000 });

    // Undo takes the import out of both views without a reload.
    const before = await page.evaluate(() => window.VeldraViews.files.model.revision);
    await page.click('#btnUndo');
    await page.waitForFunction((r) => window.VeldraViews.files.model.revision !== r, before, { timeout: 10000 });
    await viewsCurrent(page);
    assert.equal(await page.evaluate(() => window.VeldraView3D.sceneObjectCount()), 0);
    assert.equal(await page.evaluate(() => window.VeldraPlan.stats.elements), 0);
    assert.deepEqual(await page.evaluate(() => window.VeldraPlan.selected()), []);
    await shot(page, 'views_undone');
  });
});
