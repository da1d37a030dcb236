// The point-cloud palette in the host window: opened from the menu, a frame
// drawn, the estimate following it, a cancelled and a finished download, the
// alert in the host window, the project origin.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import { withHost, startPlaceFixture, projectFile, launchBrowser, menu, recordReceived, sent, shot, sleep } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

// Area in m² of a WGS84 box, from PROJ's PL-1992 corners (the controller's own frame rule).
function areaPl1992([w, s, e, n]) {
  const out = execFileSync('cs2cs', ['-f', '%.3f', 'EPSG:4326', 'EPSG:2180'],
    { input: [[s, w], [s, e], [n, w], [n, e]].map((p) => p.join(' ')).join('\n') + '\n', encoding: 'utf8' });
  const pts = out.trim().split('\n').map((l) => l.split(/\s+/).map(Number));
  const span = (i) => Math.max(...pts.map((p) => p[i])) - Math.min(...pts.map((p) => p[i]));
  return span(0) * span(1);
}

test('cloud palette: frame, live estimate, cancel, download to the alert, origin', async (t) => {
  const fx = await startPlaceFixture({ script: 'cloud_fixture.py' });
  t.after(() => fx.stop());
  const project = projectFile({ geolocation: { latitude: fx.lat, longitude: fx.lon } });
  await withHost(browser, { endpoints: fx.endpoints, project }, async (page, srv) => {
    await menu(page, 'Chmura punktow');
    await page.waitForSelector('#cloudPalette:not([hidden])');
    const ui = page.frameLocator('#cloudFrame');
    await ui.locator('#buildTag', { hasText: 'v1.8.0' }).waitFor({ timeout: 10000 });
    const cloud = page.frames().find((f) => f.url().includes('/cloud/cloud.html'));
    await recordReceived(cloud);
    assert.match(srv.diag(), /=== CloudPalette ExtractWebResources v1\.8\.0 ===\nwebDir=.*\/Orvane_Cloud\/web\n/);
    assert.match(srv.diag(), /id=200 file=cloud\.html res=(\d+)B open=1 disk=\1B/);

    // The frame drawn across the middle of the map; estimates stay at most one per 400 ms.
    await ui.locator('#btnDraw').click();
    const box = await ui.locator('#map').boundingBox();
    const before = (await sent(cloud, 'frameEstimate')).length;
    const t0 = Date.now();
    await page.mouse.move(box.x + box.width * 0.3, box.y + box.height * 0.3);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width * 0.7, box.y + box.height * 0.7, { steps: 25 });
    await page.mouse.up();
    const burstMs = Date.now() - t0;
    await sleep(600);
    const estimates = (await sent(cloud, 'frameEstimate')).slice(before);
    assert.ok(estimates.length >= 1 && estimates.length <= Math.ceil(burstMs / 400) + 2,
      `${estimates.length} estimates in ${burstMs} ms`);
    const last = estimates[estimates.length - 1];
    assert.equal(last.detail, 'standard');
    // The index's density replaces the default, and the points follow the frame's area.
    await ui.locator('#estDensity', { hasText: `${fx.density},0 pkt/m²` }).waitFor({ timeout: 10000 });
    const points = Number((await ui.locator('#estPoints').textContent()).replace(/\D/g, ''));
    const expected = areaPl1992(last.bboxWgs84) * fx.density;
    assert.ok(Math.abs(points - expected) < expected * 0.01, `${points} vs ${expected}`);
    assert.equal(await ui.locator('#estWarning').isHidden(), true);

    // Dragged by its inside the frame moves whole; dragged by a corner, the opposite one stays.
    const drag = async ([x0, y0], [x1, y1]) => {
      await page.mouse.move(box.x + x0 * box.width, box.y + y0 * box.height);
      await page.mouse.down();
      await page.mouse.move(box.x + x1 * box.width, box.y + y1 * box.height, { steps: 5 });
      await page.mouse.up();
      await sleep(500);
      return (await sent(cloud, 'frameEstimate')).at(-1).bboxWgs84;
    };
    const near = (a, b) => Math.abs(a - b) < 1e-7;
    const moved = await drag([0.5, 0.5], [0.6, 0.5]);
    assert.ok(near(moved[1], last.bboxWgs84[1]) && near(moved[3], last.bboxWgs84[3]) && moved[0] > last.bboxWgs84[0] &&
      near(moved[2] - moved[0], last.bboxWgs84[2] - last.bboxWgs84[0]), JSON.stringify([last.bboxWgs84, moved]));
    const resized = await drag([0.8, 0.7], [0.85, 0.8]);
    assert.ok(near(resized[0], moved[0]) && near(resized[3], moved[3]) && resized[2] > moved[2] && resized[1] < moved[1],
      JSON.stringify([moved, resized]));
    await ui.locator('#detail label', { hasText: 'Pełna' }).click();
    await cloud.waitForFunction(() => window.__sent.some((t) => t.includes('"detail":"full"')));
    await shot(page, 'cloud_frame_estimate');

    // Cancelled during the first tile's transfer: the page says so, no alert, no file.
    await ui.locator('#btnDownload').click();
    await ui.locator('#btnCancel').waitFor({ state: 'visible', timeout: 15000 });
    assert.match(await ui.locator('#statusLabel').textContent(), /^Kafel 1\/2: /);
    await shot(page, 'cloud_downloading');
    await ui.locator('#btnCancel').click();
    await ui.locator('#resultText.failed', { hasText: 'Anulowano.' }).waitFor({ timeout: 15000 });
    assert.equal(await ui.locator('#btnDownload').isEnabled(), true);
    const target = path.join(srv.home, 'data', 'Orvane_Cloud', 'ostatnia_chmura.e57');
    assert.equal(fs.existsSync(target), false);

    // A whole download: progress through both tiles, then the alert in the host window.
    await cloud.evaluate(() => { window.__recv = []; });
    await ui.locator('#btnDownload').click();
    // (A failed download would end without an alert: its text then shows in the assertion.)
    await Promise.race([page.waitForSelector('#modal:not([hidden])', { timeout: 60000 }),
      ui.locator('#resultText:not([hidden])').waitFor({ timeout: 60000 })]);
    assert.equal(await page.isVisible('#modal'), true, await ui.locator('#resultText').textContent());
    assert.equal(await page.textContent('#modalTitle'), 'Orvane Cloud');
    assert.equal(await page.textContent('#modalText'), 'Chmura punktow gotowa i zgrana z projektem.\n' +
      'Zaimportuj ja: Plik > Interoperacyjnosc > Chmura punktow -> wskaz plik:\n' + target);
    assert.equal(await page.isHidden('#cloudPalette'), true, 'the palette steps aside for the alert');
    await shot(page, 'cloud_alert');
    assert.equal(fs.readFileSync(target).subarray(0, 8).toString(), 'ASTM-E57');
    await page.click('#modalButtons button');
    await ui.locator('#resultText.ok').waitFor({ timeout: 10000 });
    assert.equal(await ui.locator('#resultText').textContent(),
      `Chmura zapisana: ${target} - zaimportuj: Plik > Interoperacyjnosc > Chmura punktow.`);
    const progress = (await cloud.evaluate(() => window.__recv)).filter((m) => m.type === 'progress');
    const pcts = progress.map((m) => m.pct);
    assert.deepEqual(pcts, [...pcts].sort((a, b) => a - b), 'progress only grows');
    assert.ok(progress.some((m) => m.cancellable && /^Kafel 2\/2: /.test(m.label)), JSON.stringify(progress.slice(-3)));
    assert.equal(await ui.locator('#progressTrack').isHidden(), true);
    await shot(page, 'cloud_done');

    // The host window offers the cloud for its 3D view.
    await page.waitForSelector('#cloudOffer:not([hidden])');
    await recordReceived(page);
    await page.click('#btnShowCloud');
    await page.waitForFunction(() => window.__sent.some((t) => JSON.parse(t).type === 'showCloud'));
    // ... and draws it there, thinned to what the view takes; the tick hides and shows it.
    await page.waitForFunction(() => window.VeldraView3D.cloudPointCount() > 0, null, { timeout: 20000 });
    const reply = (await page.evaluate(() => window.__recv)).filter((m) => m.type === 'views' && m.file === 'cloud').at(-1);
    assert.equal(await page.evaluate(() => window.VeldraView3D.cloudPointCount()), reply.points);
    assert.ok(reply.points <= reply.total && reply.points <= 300000, JSON.stringify(reply));
    assert.match(await page.textContent('#cloudCount'), /\d/);
    // The palette floats over the view: out of the way for the picture only.
    await page.evaluate(() => { document.getElementById('cloudPalette').style.visibility = 'hidden'; });
    await shot(page, 'cloud_view3d');
    await page.evaluate(() => { document.getElementById('cloudPalette').style.visibility = ''; });
    await page.uncheck('#cloudToggle');
    assert.equal(await page.evaluate(() => window.VeldraView3D.cloudPointCount()), 0);
    await page.check('#cloudToggle');
    assert.equal(await page.evaluate(() => window.VeldraView3D.cloudPointCount()), reply.points);

    // The project origin from the map's centre, where the map opened (the point itself against PROJ
    // is the black-box palette test's).
    await ui.locator('#btnOrigin').click();
    const origin = (await sent(cloud, 'setOrigin')).at(-1);
    assert.ok(Math.abs(origin.lat - fx.lat) < 1e-4 && Math.abs(origin.lon - fx.lon) < 1e-4, JSON.stringify(origin));
    await ui.locator('#originText', { hasText: 'E=' }).waitFor({ timeout: 10000 });

    // Menu item 2 hides the palette and shows it again without reloading it.
    await cloud.evaluate(() => { window.__marker = 'kept'; });
    await menu(page, 'Chmura punktow');
    await page.waitForSelector('#cloudPalette[hidden]', { state: 'attached' });
    await menu(page, 'Chmura punktow');
    await page.waitForSelector('#cloudPalette:not([hidden])');
    assert.equal(await cloud.evaluate(() => window.__marker), 'kept');
  });
});
