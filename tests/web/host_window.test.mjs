// The host window: add-on menu, palette toggling, notices, report window,
// project layers, and the extraction failure path.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { startUi, launchBrowser, newContext, shot, sleep } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

async function openHost(ctx, srv) {
  const page = await ctx.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.goto(srv.host);
  await page.waitForSelector('#menuItems li', { state: 'attached', timeout: 10000 });
  page.__errors = errors;
  return page;
}

async function menu(page, label) {
  await page.click('#menuTop');
  await page.locator('#menuItems li', { hasText: label }).click();
}

test('menu: map palette toggles without reloading, check mark follows, other commands answer', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'veldra_proj_'));
  const project = path.join(dir, 'p.json');
  fs.writeFileSync(project, JSON.stringify({
    format: 'veldra-project', version: 1, activeFloor: 0, nextGuid: 1,
    attributes: { layers: [{ index: 1, name: 'Domyslna' }, { index: 2, name: 'GIS_Dzialki' }],
      fillTypes: [], surfaceMaterials: [], buildingMaterials: [] },
    elements: [],
  }));
  const srv = await startUi({ args: [], project });
  const ctx = await newContext(browser);
  try {
    const page = await openHost(ctx, srv);
    assert.deepEqual(await page.locator('#menuItems li').allTextContents(),
      ['Mapa importu GIS', 'Chmura punktow', 'Czyszczenie duplikatow (polilinie + teksty)', 'Otwórz https://veldra.app/']);
    assert.deepEqual(await page.locator('#layerTable tbody td:first-child').allTextContents(), ['Domyslna', 'GIS_Dzialki']);
    assert.deepEqual(await page.locator('#layerTable tbody td:last-child').allTextContents(), ['0', '0']);
    assert.equal(await page.isDisabled('#btnUndo'), true);
    // Export buttons are live exactly when the build has the exporters.
    const exportable = await page.isEnabled('#btnExportDxf');
    assert.equal(await page.isEnabled('#btnExportGltf'), exportable);
    assert.equal(await page.isHidden('#palette'), true);

    await menu(page, 'Mapa importu GIS');
    await page.waitForSelector('#palette:not([hidden])');
    const frame = page.frameLocator('#paletteFrame');
    await frame.locator('#buildTag', { hasText: 'v1.8.0' }).waitFor({ timeout: 10000 });
    await page.waitForFunction(() => document.querySelector('#menuItems li.checked')?.textContent === '✓ Mapa importu GIS');
    await shot(page, 'host_palette_shown');
    const inner = page.frames().find((f) => f.url().includes('/map/map.html'));
    await inner.evaluate(() => { window.__marker = 'kept'; });

    await menu(page, 'Mapa importu GIS');
    await page.waitForSelector('#palette[hidden]', { state: 'attached' });
    await page.waitForFunction(() => !document.querySelector('#menuItems li.checked'));
    await menu(page, 'Mapa importu GIS');
    await page.waitForSelector('#palette:not([hidden])');
    assert.equal(await inner.evaluate(() => window.__marker), 'kept', 'page not reloaded');

    // The palette's own close button hides it and clears the check mark.
    await page.click('#paletteClose');
    await page.waitForSelector('#palette[hidden]', { state: 'attached' });
    await page.waitForFunction(() => !document.querySelector('#menuItems li.checked'));

    await menu(page, 'Chmura punktow');
    await page.waitForSelector('#modal:not([hidden])');
    assert.match(await page.textContent('#modalText'), /nie jest dostepne w tej wersji\.$/);
    await shot(page, 'host_notice');
    await page.click('#modalButtons button');
    await menu(page, 'Czyszczenie duplikatow');
    await page.waitForSelector('#modal:not([hidden])');
    assert.match(await page.textContent('#modalText'), /^Czyszczenie duplikatow nie jest dostepne/);
    await page.click('#modalButtons button');
    if (exportable) {
      await page.click('#btnExportDxf');
      await page.waitForSelector('#modal:not([hidden])');
      assert.equal(await page.textContent('#modalText'), 'Zapisano ' + project.replace(/\.json$/, '.dxf'));
      await page.click('#modalButtons button');
      assert.ok(fs.statSync(project.replace(/\.json$/, '.dxf')).size > 0);
      await page.waitForFunction(() => [...document.querySelectorAll('#reportLines li')].some((l) => l.textContent.startsWith('VELDRA: eksport DXF zapisany: ')));
    }
    await menu(page, 'Otwórz');
    for (let i = 0; i < 30 && !srv.opened(); i++) await sleep(100);
    assert.equal(srv.opened().trim(), 'https://veldra.app/');
    assert.deepEqual(page.__errors, []);
    await page.close();
  } finally {
    await ctx.close();
    assert.equal(await srv.stop(), 0);
  }
  // Saved on the way out; still a project.
  const saved = JSON.parse(fs.readFileSync(project, 'utf8'));
  assert.equal(saved.format, 'veldra-project');
});

test('a map page opened in its own tab takes the palette from the host window', async () => {
  const srv = await startUi({ args: [] });
  const ctx = await newContext(browser);
  try {
    const page = await openHost(ctx, srv);
    await menu(page, 'Mapa importu GIS');
    await page.waitForSelector('#palette:not([hidden])');
    const url = await page.getAttribute('#paletteFrame', 'src');
    await page.frameLocator('#paletteFrame').locator('#buildTag', { hasText: 'v1.8.0' }).waitFor({ timeout: 10000 });
    const tab = await ctx.newPage();
    await tab.goto(url);
    await tab.waitForFunction(() => document.getElementById('buildTag').textContent === 'v1.8.0');
    await page.waitForSelector('#palette[hidden]', { state: 'attached', timeout: 5000 });
    await page.waitForFunction(() => !document.querySelector('#menuItems li.checked'));
    await tab.close();
    await page.close();
  } finally {
    await ctx.close();
    await srv.stop();
  }
});

test('a web folder that cannot be written: diagnostic lines, both report texts, empty palette', async () => {
  const srv = await startUi({
    args: [],
    // map.html as a folder: the first write of the palette fails.
    prepare: (home) => fs.mkdirSync(path.join(home, 'tmp', 'VELDRA', 'web', 'map.html'), { recursive: true }),
  });
  const ctx = await newContext(browser);
  try {
    const page = await openHost(ctx, srv);
    await menu(page, 'Mapa importu GIS');
    await page.waitForFunction(() => document.querySelectorAll('#reportLines li').length >= 2);
    assert.deepEqual(await page.locator('#reportLines li').allTextContents(), [
      'VELDRA: nie udalo sie zapisac zasobow web na dysku (paleta bylaby pusta).',
      'VELDRA: nie udalo sie wypakowac zasobow web.',
    ]);
    const diag = srv.diag();
    assert.match(diag, /=== MapPalette ExtractWebResources v1\.8\.0 ===\nwebDir=.*\/VELDRA\/web\n/);
    assert.match(diag, /id=100 file=map\.html res=\d+B open=0 disk=-?\d+B path=.*\/web\/map\.html\nZAPIS NIEUDANY id=100 -> przerywam\n$/);
    assert.doesNotMatch(diag, /LoadURL=/);
    assert.equal(await page.getAttribute('#paletteFrame', 'src'), null, 'nothing loaded');
    await shot(page, 'host_extract_failed');
    await page.close();
  } finally {
    await ctx.close();
    await srv.stop();
  }
});
