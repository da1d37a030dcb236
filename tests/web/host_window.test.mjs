// The host window: add-on menu, palette toggling, notices, report window,
// project layers, and the extraction failure path.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { withHost, projectFile, launchBrowser, openHost, menu, shot, sleep } from './harness.mjs';

let browser;
before(async () => { browser = await launchBrowser(); });
after(async () => { await browser?.close(); });

// A project with the layer GIS_Dzialki besides the default one.
const projectWithGisLayer = (elements = [], nextGuid = 1) =>
  projectFile({ layers: [{ index: 2, name: 'GIS_Dzialki' }], elements, nextGuid });

test('menu: map palette toggles without reloading, check mark follows, other commands answer', async () => {
  await withHost(browser, { project: projectWithGisLayer() }, async (page, srv) => {
    assert.deepEqual(await page.locator('#menuItems li').allTextContents(),
      ['Mapa importu GIS', 'Chmura punktow', 'Czyszczenie duplikatow (polilinie + teksty)', 'Otwórz https://veldra.app/']);
    assert.deepEqual(await page.locator('#layerTable tbody td:first-child').allTextContents(), ['Domyslna', 'GIS_Dzialki']);
    assert.deepEqual(await page.locator('#layerTable tbody td:last-child').allTextContents(), ['0', '0']);
    assert.equal(await page.isDisabled('#btnUndo'), true);
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

    // A command's message is a modal alert: the palette steps aside while it
    // is open, and the command (and with it the main thread) waits for the answer.
    await menu(page, 'Mapa importu GIS');
    await page.waitForSelector('#palette:not([hidden])');
    await menu(page, 'Czyszczenie duplikatow');
    await page.waitForSelector('#modal:not([hidden])');
    assert.match(await page.textContent('#modalText'), /^Usuwa zduplikowane POLILINIE i TEKSTY/);
    await page.waitForSelector('#palette[hidden]', { state: 'attached' });
    await shot(page, 'host_notice');
    await sleep(300);
    assert.equal(await page.isHidden('#palette'), true, 'palette back before the answer');
    await page.locator('#modalButtons button', { hasText: 'Anuluj' }).click();
    await page.waitForSelector('#palette:not([hidden])');
    await page.click('#paletteClose');
    await page.waitForSelector('#palette[hidden]', { state: 'attached' });
    await menu(page, 'Otwórz');
    for (let i = 0; i < 30 && !srv.opened(); i++) await sleep(100);
    assert.equal(srv.opened().trim(), 'https://veldra.app/');
  });
});

test('menu item 3 removes the duplicates of the selected layer only, and undo brings them back', async () => {
  let n = 0;
  const line = (layer) => ({ type: 20, guid: 'L' + ++n, layer, floor: 0, memo: { points: [0, 0, 5, 5], ringEnds: [2] } });
  await withHost(browser, { project: projectWithGisLayer([line(1), line(1), line(2), line(2), line(2)], 10) }, async (page) => {
    await page.locator('#selLayers label', { hasText: 'GIS_Dzialki' }).locator('input').check();
    await page.click('#btnSelect');
    await page.waitForFunction(() => document.getElementById('selCount').textContent === 'Zaznaczone elementy: 3');
    await menu(page, 'Czyszczenie duplikatow');
    await page.waitForSelector('#modal:not([hidden])');
    await page.locator('#modalButtons button', { hasText: 'Uruchom' }).click();
    await page.waitForFunction(() => document.getElementById('modalText').textContent.startsWith('Usunieto'));
    assert.equal(await page.textContent('#modalText'), 'Usunieto duplikaty:\n- polilinie: 2\n- teksty: 0');
    await shot(page, 'host_duplicates_removed');
    await page.click('#modalButtons button');
    await page.waitForFunction(() => document.getElementById('elementTotal').textContent === 'Elementy w projekcie: 3');
    assert.equal(await page.textContent('#btnUndo'), 'Cofnij: Usun duplikaty (polilinie + teksty)');
    await page.click('#btnUndo');
    await page.waitForFunction(() => document.getElementById('elementTotal').textContent === 'Elementy w projekcie: 5');
  });
});

test('a map page opened in its own tab takes the palette from the host window', async () => {
  await withHost(browser, {}, async (page, srv, ctx) => {
    await menu(page, 'Mapa importu GIS');
    await page.waitForSelector('#palette:not([hidden])');
    const url = await page.getAttribute('#paletteFrame', 'src');
    await page.frameLocator('#paletteFrame').locator('#buildTag', { hasText: 'v1.8.0' }).waitFor({ timeout: 10000 });
    const tab = await ctx.newPage();
    await tab.goto(url);
    await tab.waitForFunction(() => document.getElementById('buildTag').textContent === 'v1.8.0');
    await page.waitForSelector('#palette[hidden]', { state: 'attached', timeout: 5000 });
    await shot(tab, 'host_palette_in_own_tab');
    await page.waitForFunction(() => !document.querySelector('#menuItems li.checked'));
  });
});

test('a web folder that cannot be written: diagnostic lines, both report texts, empty palette', async () => {
  // Each palette's page as a folder: its first write fails.
  for (const [item, name, folder, file, id, frame, reporter] of [
    ['Mapa importu GIS', 'MapPalette', 'web', 'map.html', 100, '#paletteFrame', 'VELDRA'],
    ['Chmura punktow', 'CloudPalette', 'Orvane_Cloud/web', 'cloud.html', 200, '#cloudFrame', 'Orvane Cloud'],
  ]) {
    const prepare = (home) => fs.mkdirSync(path.join(home, 'tmp', `veldra-${process.getuid()}`, folder, file),
      { recursive: true, mode: 0o700 });
    await withHost(browser, { prepare }, async (page, srv) => {
      await menu(page, item);
      await page.waitForFunction(() => document.querySelectorAll('#reportLines li').length >= 2);
      assert.deepEqual(await page.locator('#reportLines li').allTextContents(), [
        `${reporter}: nie udalo sie zapisac zasobow web na dysku (paleta bylaby pusta).`,
        `${reporter}: nie udalo sie wypakowac zasobow web.`,
      ]);
      const diag = srv.diag();
      assert.match(diag, new RegExp(`=== ${name} ExtractWebResources v1\\.8\\.0 ===\nwebDir=.*/veldra-\\d+/${folder}\n`));
      assert.ok(new RegExp(`id=${id} file=${file} res=\\d+B open=0 disk=-?\\d+B path=.*/${folder}/${file}\n` +
        `ZAPIS NIEUDANY id=${id} -> przerywam\n$`).test(diag), diag);
      assert.doesNotMatch(diag, /LoadURL=/);
      assert.equal(await page.getAttribute(frame, 'src'), null, 'nothing loaded');
      await shot(page, `host_extract_failed_${id}`);
    });
  }
});

test('an alert waits for its answer: a window that takes over shows it again, a closed one releases it', async () => {
  const modalText = (page) => page.waitForSelector('#modal:not([hidden])', { timeout: 10000 })
    .then(() => page.textContent('#modalText'));
  await withHost(browser, {}, async (first, srv, ctx) => {
    // A second window opened while the alert waits takes over and is shown the same alert.
    await menu(first, 'Czyszczenie duplikatow');
    assert.match(await modalText(first), /^Usuwa zduplikowane POLILINIE i TEKSTY/);
    await shot(first, 'host_alert_waiting');
    // (Its menu comes only after the answer: the program is inside the command.)
    // Its own script comes late: the alert may arrive before the page can show it.
    const second = await ctx.newPage();
    await second.route('**/host.js', async (route) => { await sleep(1000); await route.continue(); });
    await second.goto(srv.host);
    assert.match(await modalText(second), /^Usuwa zduplikowane POLILINIE i TEKSTY/);
    await second.locator('#modalButtons button', { hasText: 'Anuluj' }).click();
    await second.waitForSelector('#modal[hidden]', { state: 'attached' });
    await second.waitForSelector('#menuItems li', { state: 'attached', timeout: 10000 });
    await first.close();

    // A window closed while the alert waits dismisses it; the next window works.
    await menu(second, 'Czyszczenie duplikatow');
    await modalText(second);
    await second.close();
    await sleep(1000);
    const third = await openHost(ctx, srv);
    await menu(third, 'Czyszczenie duplikatow');
    assert.match(await modalText(third), /^Usuwa zduplikowane POLILINIE i TEKSTY/);
    await third.locator('#modalButtons button', { hasText: 'Anuluj' }).click();
    await third.waitForSelector('#modal[hidden]', { state: 'attached' });
    assert.deepEqual(third.__errors, []);
    // Stopped while an alert waits, with the window still open: the program ends by itself.
    await menu(third, 'Czyszczenie duplikatow');
    await third.waitForSelector('#modal:not([hidden])');
    assert.equal(await srv.stop(), 0);
  });
});
