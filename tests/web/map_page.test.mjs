// The map page against the real palette server and controller, offline.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startUi, launchBrowser, newContext, openMap, recordReceived, sent, shot, sleep } from './harness.mjs';

let srv, browser, ctx;
before(async () => {
  srv = await startUi();
  browser = await launchBrowser();
  ctx = await newContext(browser);
});
after(async () => {
  await browser?.close();
  // The offline fetch started below may still run: stopping must stay clean.
  assert.equal(await srv?.stop(), 0, srv.stderr());
});

const text = (page, sel) => page.locator(sel).textContent();
const deliver = (page, msg) => page.evaluate((m) => window.GISBridge.receive(m), msg);
// Delivers each message and checks the status line the page shows for it.
async function shows(page, rows) {
  for (const [msg, status] of rows) {
    await deliver(page, msg);
    assert.equal(await text(page, '#statusLabel'), status, JSON.stringify(msg));
  }
}

test('start state: connection, labels, defaults, hidden rows', async () => {
  const page = await openMap(ctx, srv);
  assert.equal(await text(page, '#buildTag'), 'v1.8.0');
  assert.equal(await text(page, '#statusLabel'), 'Połączono z ArchiCAD ✓');
  const first = await sent(page);
  assert.deepEqual(first.slice(0, 2).map((m) => m.type), ['ping', 'getInit']);
  for (const id of ['lyDzialki', 'lyBudynki', 'lyKieg']) assert.equal(await page.isChecked('#' + id), true, id);
  for (const id of ['lyWodaChmura', 'lyBudynkiRekon', 'lyMosty', 'lyDrogi']) {
    assert.equal(await page.isVisible('#' + id), false, id + ' hidden');
    assert.equal(await page.isChecked('#' + id), false);
  }
  assert.equal(await page.isDisabled('#btnPlace'), true);
  assert.equal(await page.isHidden('#btnCancel'), true);
  assert.equal(await page.isHidden('#settings'), true);
  assert.equal(await page.inputValue('#basemap'), 'ofm', 'WebGL available: vector base map');
  const frame = /^Kadr: (\d+ m|\d+\.\d\d km) × (\d+ m|\d+\.\d\d km) {2}\(1:1000 → (\d+) płyt\.\)$/;
  assert.match(await text(page, '#frameInfo'), frame);
  await page.selectOption('#rasterScale', '250');
  assert.match(await text(page, '#frameInfo'), /\(1:250 → \d+ płyt\.\)$/);
  await page.selectOption('#rasterScale', '1000');
  assert.match(srv.diag(), /onLoadingState isLoading=1\n(.*\n)*onLoadingState isLoading=0\n/);

  // Base maps and overlays (their tiles are refused offline, but the requests show what is on).
  const tiles = (part) => page.evaluate((p) => document.querySelectorAll(`#map img[src*="${p}"]`).length, part);
  assert.match(await text(page, '.leaflet-control-attribution'), /© OpenFreeMap © OpenMapTiles © OpenStreetMap/);
  assert.ok(await tiles('KrajowaIntegracjaEwidencjiGruntow') > 0, 'cadastral overlay on at start');
  await page.selectOption('#basemap', 'orto');
  await page.waitForFunction(() => document.querySelectorAll('#map img[src*="ORTO/WMS/StandardResolution"]').length > 0);
  assert.doesNotMatch(await text(page, '.leaflet-control-attribution'), /OpenFreeMap/);
  await page.uncheck('#lyKieg');
  assert.equal(await tiles('KrajowaIntegracjaEwidencjiGruntow'), 0);
  await page.check('#lyMpzp');
  assert.ok(await tiles('KrajowaIntegracjaMiejscowychPlanow') > 0, 'plan coverage preview follows its box');
  await page.uncheck('#lyMpzp');
  assert.equal(await tiles('KrajowaIntegracjaMiejscowychPlanow'), 0);
  await page.selectOption('#basemap', 'none');
  assert.equal(await tiles('ORTO/WMS'), 0);
  await page.selectOption('#basemap', 'ofm');
  await page.check('#lyKieg');
  assert.deepEqual(page.__errors, []);
  await shot(page, 'map_start');
  await page.close();
});

test('fetch: no layer is an error without a message; the sent message is exact', async () => {
  const page = await openMap(ctx, srv);
  await page.uncheck('#lyDzialki');
  await page.uncheck('#lyBudynki');
  const before = (await sent(page)).length;
  await page.click('#btnFetch');
  assert.equal(await text(page, '#statusLabel'), 'Zaznacz co najmniej jedną warstwę do pobrania.');
  assert.equal(await page.getAttribute('#statusLabel', 'class'), 'error');
  assert.equal((await sent(page)).length, before);

  for (const id of ['#lyPoziomice3d', '#lyDzialki', '#lyTeren', '#lyRastr', '#lyPoziomiceChmura']) await page.check(id);
  await page.check('#lyPoziomiceWygladz');
  await page.selectOption('#rasterScale', '500');
  await page.selectOption('#terrainStep', '5');
  await page.selectOption('#terenChmuraKrok', '0.5');
  await page.selectOption('#poziomiceCiecie', '0.25');
  await page.click('#btnFetch');
  const { bboxWgs84: [w, s, e, n], ...msg } = (await sent(page, 'fetch')).at(-1);
  assert.deepEqual(msg, { type: 'fetch', layers: ['dzialki', 'teren', 'poziomicechmura', 'rastr', 'poziomice3d'],
    rasterScale: 500, terrainStep: 5, terenChmuraKrok: 0.5, poziomiceCiecie: 0.25, poziomiceWygladz: true });
  assert.ok(w < 21.0122 && e > 21.0122 && s < 52.2297 && n > 52.2297, 'frame around the start view');
  assert.ok(e - w < 0.05 && n - s < 0.05, 'zoom 16 frame');
  // The real controller takes the request: its first progress message arrives (offline the
  // fetch itself may take long; what the page shows for its end is tested below).
  await page.waitForFunction(() => window.__recv.some((m) => m.type === 'progress' || m.type === 'error'),
    null, { timeout: 15000 });
  assert.equal(await page.isDisabled('#btnPlace'), true);
  assert.equal(await page.getAttribute('#stepFetch', 'class'), 'step active');
  await shot(page, 'map_fetch_offline');
  // A cancel ends the offline fetch promptly, with its fetchDone (later tests start from no fetch).
  await page.evaluate(() => window.GISBridge.send('cancel'));
  await page.waitForFunction(() => window.__recv.some((m) => m.type === 'fetchDone'), null, { timeout: 15000 });
  await page.close();
});

test('progress, fetchDone, placeDone, originSet, error and cancelled as the page shows them', async () => {
  const page = await openMap(ctx, srv);
  await shows(page, [[{ type: 'progress', done: 0, total: 0, label: 'Teren' }, 'Teren']]);
  assert.equal(await page.evaluate(() => document.getElementById('progressFill').style.width), '5%');
  assert.equal(await page.isHidden('#btnCancel'), true);
  await shows(page, [[{ type: 'progress', done: 1, total: 3, label: 'Budynki', cancellable: true }, 'Budynki — 33%']]);
  assert.equal(await page.isVisible('#btnCancel'), true);
  // Checked in the same task as the click: the controller's reply cannot come in between.
  const pressed = await page.evaluate(() => {
    const b = document.getElementById('btnCancel');
    b.click();
    return [b.textContent, b.disabled];
  });
  assert.deepEqual(pressed, ['Anulowanie…', true]);
  await page.waitForFunction(() => window.__recv.some((m) => m.type === 'cancelled'));
  assert.equal(await text(page, '#statusLabel'), 'Anulowano');
  assert.equal(await page.isHidden('#btnCancel'), true);
  assert.equal(await text(page, '#btnCancel'), 'Anuluj');

  const geojson = JSON.stringify({ type: 'FeatureCollection', features: [
    { type: 'Feature', properties: { _kind: 'dzialka' }, geometry: { type: 'LineString', coordinates: [[21.011, 52.229], [21.013, 52.230]] } },
    { type: 'Feature', properties: { _kind: 'budynek' }, geometry: { type: 'Polygon', coordinates: [[[21.0115, 52.2295], [21.0125, 52.2295], [21.0125, 52.2300], [21.0115, 52.2295]]] } },
  ] });
  await deliver(page, { type: 'fetchDone', counts: { dzialki: 12, 'mpzp (rastr)': 1, nieznany: 2 }, geojson });
  assert.deepEqual(await page.locator('#chips .chip').allTextContents(), ['12 × działki', '1 × MPZP (rastr)', '2 × nieznany']);
  assert.equal(await text(page, '#statusLabel'), 'Pobrano — sprawdź podgląd i kliknij „2. Dodaj do projektu”');
  assert.equal(await page.getAttribute('#stepFetch', 'class'), 'step done');
  assert.equal(await page.getAttribute('#stepPlace', 'class'), 'step active');
  assert.equal(await page.isEnabled('#btnPlace'), true);
  const strokes = await page.evaluate(() => [...document.querySelectorAll('#map path.leaflet-interactive')].map((p) => p.getAttribute('stroke')));
  assert.equal(new Set(strokes).size, 2, 'each kind drawn in its own colour');
  await shot(page, 'map_fetched');

  await shows(page, [[{ type: 'fetchDone', counts: { budynki: 3 }, warning: 'Brak uslugi WFS dla powiatu.' }, 'Brak uslugi WFS dla powiatu.']]);
  assert.equal(await page.evaluate(() => document.getElementById('statusLabel').classList.contains('error')), false);
  assert.equal(await page.evaluate(() => document.querySelectorAll('#map path.leaflet-interactive').length), 0);
  await deliver(page, { type: 'fetchDone', counts: {}, warning: 'Nic.' });
  assert.equal(await page.getAttribute('#statusLabel', 'class'), 'error');
  assert.equal(await page.isDisabled('#btnPlace'), true);
  assert.equal(await page.getAttribute('#stepFetch', 'class'), 'step');
  await shows(page, [[{ type: 'fetchDone', counts: {} }, 'Nic nie pobrano dla tego obszaru']]);

  await deliver(page, { type: 'fetchDone', counts: { budynki: 3 } });
  const placing = await page.evaluate(() => {
    document.getElementById('btnPlace').click();
    return [document.getElementById('statusLabel').textContent, document.getElementById('stepPlace').className];
  });
  assert.deepEqual(placing, ['Dodaję do projektu…', 'step active']);
  assert.deepEqual((await sent(page, 'place')).pop(), { type: 'place' });
  // The controller has nothing fetched and refuses; the page shows its text as an error.
  await page.waitForFunction(() => window.__recv.some((m) => m.type === 'error'));
  await deliver(page, { type: 'placeDone', counts: { budynki: 3 }, warning: 'x' });
  assert.deepEqual(await page.locator('#chips .chip.placed').allTextContents(), ['3 × budynki ✓']);
  assert.equal(await text(page, '#statusLabel'), 'Dodano do projektu — uwagi w Raporcie (Okno → Palety → Raport)');
  assert.equal(await page.getAttribute('#stepPlace', 'class'), 'step done');

  await shows(page, [
    [{ type: 'originSet', e: 7500123.4, n: 5787654.6, h: 0, epsg: 2180 }, 'Lokalizacja projektu ustawiona: E=7500123 N=5787655 (EPSG:2180)'],
    [{ type: 'originSet', e: 7500000, n: 5788000, h: 101.6, epsg: 2178 },
      'Lokalizacja projektu ustawiona: E=7500000 N=5788000 (PL-2000 strefa 7, EPSG:2178), H=102 m n.p.m. (PL-EVRF2007-NH)'],
    [{ type: 'error' }, 'Błąd'],
    [{ type: 'addressResults' }, 'Nie znaleziono adresu'],
  ]);
  await deliver(page, { type: 'addressResults', lat: 50.06, lon: 19.94, label: 'Kraków, Rynek Główny' });
  await sleep(600);   // zoom animation
  assert.equal(await text(page, '#statusLabel'), 'Kraków, Rynek Główny');
  await page.click('#btnSetOrigin');
  const origin = (await sent(page, 'setOrigin')).pop();
  assert.ok(Math.abs(origin.lat - 50.06) < 1e-4 && Math.abs(origin.lon - 19.94) < 1e-4);
  assert.deepEqual(page.__errors, []);
  await page.close();
});

test('native object edge cases: a number posts the empty text; an unknown type is shown', async () => {
  // Which addresses openExternal opens is the bridge's black-box test.
  const page = await openMap(ctx, srv);
  await page.evaluate(() => {
    window.GIS.postMessage(42);
    window.GISBridge.send('nieznany');
  });
  await page.waitForFunction(() => window.__recv.length >= 2, null, { timeout: 5000 });
  const got = await page.evaluate(() => window.__recv.map((m) => m.type + ':' + (m.msg || '')));
  assert.deepEqual(got.slice(0, 2), ['error:Nieprawidlowa wiadomosc z UI (JSON)', 'error:Brak obslugi wiadomosci: nieznany']);
  assert.equal(await page.textContent('#statusLabel'), 'Brak obslugi wiadomosci: nieznany');
  await shot(page, 'map_unknown_message');
  await page.close();
});

test('messages queued before the native object exists keep their order; one retry timer', async () => {
  const page = await openMap(ctx, srv);
  const before = (await sent(page)).length;
  const timers = await page.evaluate(async () => {
    const gis = window.GIS;
    window.GIS = undefined;
    let n = 0;
    const orig = window.setInterval;
    window.setInterval = (...a) => { n++; return orig(...a); };
    window.GISBridge.send('cancel');
    window.GISBridge.send('ping');
    window.GISBridge.send('getInit');
    await new Promise((r) => setTimeout(r, 350));
    window.GIS = gis;
    await new Promise((r) => setTimeout(r, 250));
    window.setInterval = orig;
    return [n, window.GISBridge._timer];
  });
  assert.deepEqual(timers, [1, null], 'one timer, stopped after the flush');
  assert.deepEqual((await sent(page)).slice(before).map((m) => m.type), ['cancel', 'ping', 'getInit']);

  // "init" moves the map.
  await deliver(page, { type: 'init', lat: 50.0614, lon: 19.9366, zoom: 17 });
  await sleep(600);   // zoom animation
  await shot(page, 'map_init_krakow');
  await page.click('#btnSetOrigin');
  const o = (await sent(page, 'setOrigin')).pop();
  assert.ok(Math.abs(o.lat - 50.0614) < 1e-4 && Math.abs(o.lon - 19.9366) < 1e-4, JSON.stringify(o));
  await page.close();
});

test('address suggestions: debounce, one request, cache, stale answers, keyboard and mouse', async () => {
  const page = await openMap(ctx, srv);
  await page.evaluate(() => { window.__drop = ['searchAddressSuggest', 'searchAddress']; });
  await page.fill('#addr', 'Wa');
  await page.type('#addr', 'r');
  await sleep(600);
  const reqs = await sent(page, 'searchAddressSuggest');
  assert.deepEqual(reqs, [{ type: 'searchAddressSuggest', query: 'War' }]);
  const items = [{ label: 'Warszawa', lat: 52.23, lon: 21.01 }, { label: 'Warka', lat: 51.78, lon: 21.19 }];
  await deliver(page, { type: 'addressSuggestions', query: 'Warsz', items: [{ label: 'stale', lat: 1, lon: 1 }] });
  assert.equal(await page.isHidden('#addrSuggest'), true, 'answer for another query is not shown');
  await deliver(page, { type: 'addressSuggestions', query: 'War', items });
  assert.deepEqual(await page.locator('#addrSuggest li').allTextContents(), ['Warszawa', 'Warka']);
  await shot(page, 'map_suggestions');
  for (let i = 0; i < 3; i++) await page.keyboard.press('ArrowDown');
  assert.equal(await page.locator('#addrSuggest li.hl').textContent(), 'Warszawa', 'cyclic highlight');
  await page.keyboard.press('ArrowUp');
  assert.equal(await page.locator('#addrSuggest li.hl').textContent(), 'Warka');
  await page.keyboard.press('Enter');
  assert.equal(await page.inputValue('#addr'), 'Warka');
  assert.equal(await text(page, '#statusLabel'), 'Warka');
  assert.equal(await page.isHidden('#addrSuggest'), true);
  assert.equal((await sent(page, 'searchAddress')).length, 0, 'picking is not a search');

  // Back to "War": the cached answer shows at once, with no request.
  await page.fill('#addr', 'War');
  assert.deepEqual(await page.locator('#addrSuggest li').allTextContents(), ['Warszawa', 'Warka']);
  await page.keyboard.press('Escape');
  assert.equal(await page.isHidden('#addrSuggest'), true);
  await page.fill('#addr', 'Wa');
  await page.fill('#addr', 'War');
  await page.dispatchEvent('#addr', 'input');
  await page.waitForSelector('#addrSuggest li');
  await page.locator('#addrSuggest li', { hasText: 'Warszawa' }).dispatchEvent('mousedown');
  assert.equal(await page.inputValue('#addr'), 'Warszawa');
  await sleep(350);
  assert.equal((await sent(page, 'searchAddressSuggest')).length, 1);

  // Enter without a highlighted row searches; an empty field does nothing.
  await page.fill('#addr', '  Marszałkowska 1 ');
  await page.keyboard.press('Escape');
  await page.press('#addr', 'Enter');
  assert.deepEqual((await sent(page, 'searchAddress')).pop(), { type: 'searchAddress', query: 'Marszałkowska 1' });
  await page.fill('#addr', '   ');
  await page.click('#btnSearch');
  assert.equal((await sent(page, 'searchAddress')).length, 1);
  await page.close();
});

test('settings overlay: project layers, missing mapping as new, new layer prompt, save', async () => {
  const page = await openMap(ctx, srv);
  await page.click('#btnSettings');
  await page.waitForSelector('#settings:not([hidden])');
  assert.equal(await text(page, '#settings h3'), 'Mapowanie: typ danych → warstwa ArchiCAD');
  assert.equal(await page.locator('#settingsRows .settings-row label').count(), 19);
  const sel = page.locator('#settingsRows select[data-key="dzialki"]');
  const mapped = await sel.inputValue();
  assert.ok(mapped.startsWith('GIS_'), 'default mapping');
  const opts = await sel.locator('option').allTextContents();
  assert.equal(opts[opts.length - 1], '➕ nowa warstwa…');
  assert.ok(opts.includes(mapped + ' (nowa)'), 'a layer the project lacks is listed as new');

  page.once('dialog', (d) => { assert.equal(d.message(), 'Nazwa nowej warstwy:'); assert.equal(d.defaultValue(), 'GIS_BUDYNKI'); d.accept('GIS_Moje budynki'); });
  await page.selectOption('#settingsRows select[data-key="budynki"]', '__new__');
  assert.equal(await page.inputValue('#settingsRows select[data-key="budynki"]'), 'GIS_Moje budynki');
  page.once('dialog', (d) => d.dismiss());
  await page.selectOption('#settingsRows select[data-key="mpzp"]', '__new__');
  assert.equal(await page.locator('#settingsRows select[data-key="mpzp"]').evaluate((s) => s.selectedIndex), 0);
  const mpzpValue = await page.inputValue('#settingsRows select[data-key="mpzp"]');
  await shot(page, 'map_settings');
  await page.click('#btnSettingsSave');
  assert.equal(await page.isHidden('#settings'), true);
  assert.equal(await text(page, '#statusLabel'), 'Ustawienia zapisane');
  const saved = (await sent(page, 'settingsChanged')).pop();
  assert.equal(Object.keys(saved.mapping).length, 19);
  assert.equal(saved.mapping.budynki, 'GIS_Moje budynki');
  assert.equal(saved.mapping.dzialki, mapped, 'unchanged mapping saved as it was');
  assert.equal(saved.mapping.mpzp, mpzpValue);

  // Round trip through the controller: the next list carries the new mapping.
  await page.click('#btnSettings');
  await page.waitForSelector('#settings:not([hidden])');
  assert.equal(await page.inputValue('#settingsRows select[data-key="budynki"]'), 'GIS_Moje budynki');
  await page.click('#btnSettingsClose');
  assert.equal(await page.isHidden('#settings'), true);
  assert.equal((await sent(page, 'settingsChanged')).length, 1, 'closing does not save');
  await page.close();
});

test('panel folding survives a reload; links go to the system browser', async () => {
  const page = await openMap(ctx, srv);
  assert.equal(await page.getAttribute('#btnLayout', 'title'), 'Zwin panel warstw');
  await page.click('#btnLayout');
  assert.equal(await page.isHidden('#panel'), true);
  assert.equal(await page.getAttribute('#btnLayout', 'title'), 'Pokaz panel warstw');
  await page.reload();
  await page.waitForFunction(() => document.getElementById('buildTag').textContent.startsWith('v'));
  await recordReceived(page);
  assert.equal(await page.isHidden('#panel'), true);
  await shot(page, 'map_panel_folded');
  await page.click('#btnLayout');
  assert.equal(await page.evaluate(() => localStorage.getItem('gis_panel_collapsed')), '0');

  await page.evaluate(() => {
    for (const href of ['HTTPS://example.org/upper', 'https://example.org/a', 'map.html']) {
      const a = document.createElement('a');
      a.href = href;
      a.textContent = href;
      a.className = 'testlink';
      document.getElementById('toolbar').appendChild(a);
    }
  });
  const before = page.url();
  // The page hands any http(s) link over; the native side opens lower-case schemes only.
  await page.locator('a.testlink').nth(0).click();
  await page.locator('a.testlink').nth(1).click();
  await page.waitForFunction(() => window.__recv.filter((m) => m.type === 'noop').length === 2, null, { timeout: 5000 });
  assert.equal(page.url(), before, 'the page itself does not navigate');
  assert.deepEqual((await sent(page, 'openExternal')).map((m) => m.url), ['HTTPS://example.org/upper', 'https://example.org/a']);
  for (let i = 0; i < 20 && !srv.opened().includes('example.org/a'); i++) await sleep(100);
  assert.equal(srv.opened().trim(), 'https://example.org/a');
  await page.close();
});

test('without WebGL the vector base map is not offered', async () => {
  const noGl = await newContext(browser);
  await noGl.addInitScript(() => {
    const orig = HTMLCanvasElement.prototype.getContext;
    HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
      return /webgl/i.test(kind) ? null : orig.call(this, kind, ...rest);
    };
  });
  const page = await openMap(noGl, srv);
  assert.deepEqual(await page.locator('#basemap option').evaluateAll((o) => o.map((x) => x.value)), ['orto', 'none']);
  assert.equal(await page.inputValue('#basemap'), 'orto');
  await shot(page, 'map_without_webgl');
  await page.selectOption('#basemap', 'none');
  assert.equal(await page.evaluate(() => document.querySelectorAll('.leaflet-tile-pane img[src*="ORTO"]').length), 0);
  assert.deepEqual(page.__errors, []);
  await noGl.close();
});

test('closing and reopening a tab reconnects to the same palette; a second tab takes over', async () => {
  const a = await openMap(ctx, srv);
  await a.check('#lyGesut');
  await a.click('#btnSettings');
  await a.waitForSelector('#settings:not([hidden])');
  await a.close();
  const b = await openMap(ctx, srv);
  assert.equal(await text(b, '#statusLabel'), 'Połączono z ArchiCAD ✓');
  const c = await openMap(ctx, srv);
  await b.waitForSelector('#paletteReplaced', { timeout: 5000 });
  assert.equal(await b.evaluate(() => window.GIS), undefined, 'the old tab lost its native object');
  // Messages from the old tab would be queued, never delivered.
  await b.evaluate(() => window.GISBridge.send('ping'));
  await c.evaluate(() => window.GISBridge.send('ping'));
  await c.waitForFunction(() => window.__recv.filter((m) => m.type === 'pong').length >= 1);
  await sleep(300);
  assert.equal(await b.evaluate(() => window.__recv.filter((m) => m.type === 'pong').length), 0);
  await shot(b, 'map_replaced');
  await b.close();
  await c.close();
});
