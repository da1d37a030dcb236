/* Map page of the import palette. Talks to the native side only via GISBridge. */
(function () {
  'use strict';

  var GISBridge = window.GISBridge;   // gisbridge.js

  function $(id) { return document.getElementById(id); }

  // ---- tables ---------------------------------------------------------------
  // Fetch order of the layer keys.
  var LAYERS = [
    ['lyDzialki', 'dzialki'], ['lyBudynki', 'budynki'], ['lyMpzp', 'mpzp'], ['lyPog', 'pog'],
    ['lyGesut', 'gesut'], ['lyBdot', 'bdot500'], ['lyTeren', 'teren'], ['lyTerenChmura', 'terenchmura'],
    ['lyWodaChmura', 'wodachmura'], ['lyPoziomiceChmura', 'poziomicechmura'], ['lyRastr', 'rastr'],
    ['lyBudynki3d', 'budynki3d'], ['lyBudynkiLod2', 'budynkilod2'], ['lyBudynkiNdsm', 'budynkindsm'],
    ['lyBudynkiRekon', 'budynkirekon'], ['lyMosty', 'mosty'], ['lyDrogi', 'drogi'],
    ['lyPoziomice2d', 'poziomice2d'], ['lyPoziomice3d', 'poziomice3d']
  ];

  var SETTINGS_TYPES = [
    ['dzialki', 'Działki (linie + numery)'], ['budynki', 'Budynki (wypełnienia)'],
    ['mpzp', 'MPZP (strefy + symbole)'], ['pog', 'Plan ogólny (strefy + symbole)'],
    ['gesut', 'GESUT (sieci)'], ['bdot500', 'BDOT500 (mapa zasadnicza)'], ['teren', 'Teren (Siatka NMT)'],
    ['rastry', 'Rastry (obrazy)'], ['budynki3d', 'Budynki 3D (LOD1 - bryły)'],
    ['budynkilod2', 'Budynki 3D (LOD2 - dachy)'], ['budynkindsm', 'Budynki (nMPT)'],
    ['budynkirekon', 'Rekonstrukcja LOD2 (chmura)'], ['mosty', 'Mosty (OSM)'], ['drogi', 'Drogi (OSM)'],
    ['poziomice2d', 'Poziomice 2D (rysunek + rzędne)'], ['poziomice3d', 'Poziomice 3D (Siatka z warstwic)'],
    ['terenchmura', 'Teren z chmury (LiDAR)'], ['wodachmura', 'Woda / morze z chmury (LiDAR)'],
    ['poziomicechmura3d', 'Poziomice 3D z chmury (LiDAR)']
  ];

  var TYPE_LABELS = {
    'dzialki': 'działki', 'budynki': 'budynki', 'mpzp': 'MPZP', 'pog': 'POG', 'gesut': 'GESUT',
    'bdot500': 'BDOT500', 'rastry': 'orto', 'budynki3d': 'budynki 3D (LOD1)',
    'budynkilod2': 'budynki 3D — dachy (LOD2)', 'dachychmura': 'dachy z chmury (LiDAR)',
    'budynkindsm': 'budynki (nMPT)', 'budynkirekon': 'rekonstrukcja LOD2 (chmura)',
    'mosty': 'mosty (OSM)', 'drogi': 'drogi (OSM)', 'poziomice2d': 'poziomice 2D',
    'poziomice3d': 'poziomice 3D', 'teren': 'teren (NMT)', 'terenchmura': 'teren z chmury (LiDAR)',
    'poziomicechmura3d': 'poziomice 3D z chmury', 'woda z chmury (Siatka)': 'woda/morze z chmury'
  };

  // ---- status, progress, chips ---------------------------------------------
  function progressOff() {
    $('progressTrack').hidden = true;
    var c = $('btnCancel');
    c.hidden = true;
    c.disabled = false;
    c.textContent = 'Anuluj';
  }

  function progressOn(percent, cancellable) {
    $('progressTrack').hidden = false;
    $('progressFill').style.width = Math.max(0, Math.min(100, percent)) + '%';
    $('btnCancel').hidden = cancellable !== true;
  }

  function status(text, isError) {
    var el = $('statusLabel');
    el.textContent = text || 'Gotowy';
    el.classList.toggle('error', !!isError);
    if (isError) progressOff();
  }

  function setStep(id, state) {
    var el = $(id);
    el.classList.remove('active', 'done');
    if (state) el.classList.add(state);
  }

  function showChips(counts, placed) {
    var box = $('chips');
    box.innerHTML = '';
    Object.keys(counts || {}).forEach(function (key) {
      var base = key.replace(' (rastr)', '');
      var label = (TYPE_LABELS[base] || base) + (key.indexOf('(rastr)') >= 0 ? ' (rastr)' : '');
      var chip = document.createElement('span');
      chip.className = 'chip' + (placed ? ' placed' : '');
      chip.textContent = counts[key] + ' × ' + label + (placed ? ' ✓' : '');
      box.appendChild(chip);
    });
  }

  // ---- map ------------------------------------------------------------------
  // Set by the program ahead of this script when it runs on its embedded sample area: the
  // base map then comes from the demo's own tiles and nothing is asked of a public host.
  var DEMO = window.VELDRA_DEMO || null;
  var demoStatus = DEMO ? DEMO.status + ' — ' + DEMO.name : '';
  var map = L.map('map', { minZoom: 4, maxZoom: 21, zoomControl: true })
    .setView(DEMO ? DEMO.center : [52.2297, 21.0122], DEMO ? DEMO.zoom : 16);

  function hasWebGL() {
    try {
      var c = document.createElement('canvas');
      return !!(window.WebGLRenderingContext && (c.getContext('webgl2') || c.getContext('webgl')));
    } catch (e) {
      return false;
    }
  }

  var ofm = null;
  if (!DEMO && hasWebGL() && typeof L.maplibreGL === 'function') {
    try {
      ofm = L.maplibreGL({
        style: 'https://tiles.openfreemap.org/styles/bright'
      });
    } catch (e) {
      ofm = null;
    }
  }
  // In the demo the public previews are empty layers, so the toggles below stay as they are.
  var wms = DEMO ? function () { return L.featureGroup(); } : L.tileLayer.wms.bind(L.tileLayer);
  var orto = DEMO
    ? L.tileLayer(DEMO.tiles, { minZoom: DEMO.minZoom, maxNativeZoom: DEMO.maxZoom, maxZoom: 21, attribution: DEMO.name })
    : wms('https://mapy.geoportal.gov.pl/wss/service/PZGIK/ORTO/WMS/StandardResolution', {
      layers: 'Raster', format: 'image/jpeg', maxZoom: 21, attribution: '© GUGiK'
    });
  var kieg = wms('https://integracja.gugik.gov.pl/cgi-bin/KrajowaIntegracjaEwidencjiGruntow', {
    layers: 'dzialki,numery_dzialek,budynki,kontury', format: 'image/png', transparent: true,
    minZoom: 13, maxZoom: 21, attribution: '© GUGiK KIEG'
  });
  var prg = wms('https://mapy.geoportal.gov.pl/wss/service/PZGIK/PRG/WMS/AdministrativeBoundaries', {
    layers: 'A01_Granice_wojewodztw', version: '1.3.0', format: 'image/png', transparent: true,
    maxZoom: 12, attribution: '© GUGiK PRG'
  });
  var mpzpPreview = wms(
    'https://mapy.geoportal.gov.pl/wss/ext/KrajowaIntegracjaMiejscowychPlanowZagospodarowaniaPrzestrzennego', {
      layers: 'granice', format: 'image/png', transparent: true, opacity: 0.5, maxZoom: 21, attribution: '© GUGiK KIMPZP'
    });
  var pogPreview = wms('https://mapy.geoportal.gov.pl/wss/ext/PlanyOgolneGmin', {
    layers: 'strefaPlanistyczna', format: 'image/png', transparent: true, opacity: 0.55, maxZoom: 21,
    attribution: '© GUGiK POG'
  });

  var baseSelect = $('basemap');
  if (!ofm) {
    var opt = baseSelect.querySelector('option[value="ofm"]');
    if (opt) opt.remove();
  }
  baseSelect.value = ofm ? 'ofm' : 'orto';
  if (DEMO) {
    baseSelect.querySelector('option[value="orto"]').textContent = 'Mapa demonstracyjna';
    $('lyKieg').checked = false;
    $('lyKieg').disabled = true;
    var tag = document.createElement('span');
    tag.id = 'demoTag';
    tag.textContent = DEMO.status;
    $('buildTag').before(tag);
    // The suggested frame: the sample data cover it.
    L.rectangle([[DEMO.bbox[1], DEMO.bbox[0]], [DEMO.bbox[3], DEMO.bbox[2]]],
      { color: '#c0392b', weight: 2, dashArray: '6 4', fill: false, interactive: false }).addTo(map);
    status(demoStatus);
  }

  function overlaysToFront() {
    if ($('lyKieg').checked) { kieg.bringToFront(); prg.bringToFront(); }
    if ($('lyMpzp').checked) mpzpPreview.bringToFront();
    if ($('lyPog').checked) pogPreview.bringToFront();
  }

  // The binding does not report its attribution to Leaflet; it is added by hand.
  var OFM_ATTRIBUTION = '© OpenFreeMap © OpenMapTiles © OpenStreetMap';
  function applyBasemap() {
    [ofm, orto].forEach(function (l) { if (l && map.hasLayer(l)) map.removeLayer(l); });
    map.attributionControl.removeAttribution(OFM_ATTRIBUTION);
    var v = baseSelect.value;
    if (v === 'ofm' && ofm) {
      ofm.addTo(map);
      map.attributionControl.addAttribution(OFM_ATTRIBUTION);
    } else if (v !== 'none') {
      orto.addTo(map);
    }
    overlaysToFront();
  }

  function toggleLayer(layer, on, front) {
    if (on && !map.hasLayer(layer)) layer.addTo(map);
    if (!on && map.hasLayer(layer)) map.removeLayer(layer);
    if (on && front) layer.bringToFront();
  }

  applyBasemap();
  toggleLayer(kieg, $('lyKieg').checked);
  toggleLayer(prg, $('lyKieg').checked);
  baseSelect.addEventListener('change', applyBasemap);
  $('lyKieg').addEventListener('change', function () {
    toggleLayer(kieg, this.checked, true);
    toggleLayer(prg, this.checked, true);
  });
  $('lyMpzp').addEventListener('change', function () { toggleLayer(mpzpPreview, this.checked, true); });
  $('lyPog').addEventListener('change', function () { toggleLayer(pogPreview, this.checked, true); });

  var preview = L.geoJSON(null, {
    style: function (f) {
      if (f && f.properties && f.properties._kind === 'dzialka') return { color: '#e67e22', weight: 1.5, fill: false };
      return { color: '#2980b9', weight: 1, fillOpacity: 0.15 };
    }
  }).addTo(map);

  L.control.scale({ metric: true, imperial: false, maxWidth: 160, position: 'bottomleft' }).addTo(map);

  var FrameInfo = L.Control.extend({
    options: { position: 'topright' },
    onAdd: function () {
      var div = L.DomUtil.create('div', 'frame-info');
      div.id = 'frameInfo';
      return div;
    }
  });
  new FrameInfo().addTo(map);

  function distText(d) { return d >= 1000 ? (d / 1000).toFixed(2) + ' km' : Math.round(d) + ' m'; }

  function updateFrame() {
    var b = map.getBounds(), c = b.getCenter();
    var w = map.distance(L.latLng(c.lat, b.getWest()), L.latLng(c.lat, b.getEast()));
    var h = map.distance(L.latLng(b.getSouth(), c.lng), L.latLng(b.getNorth(), c.lng));
    var scale = parseInt($('rasterScale').value, 10);
    if (isNaN(scale)) scale = 1000;
    var mpp = scale * 0.00028;
    var sheets = Math.max(1, Math.ceil(w / mpp / 4096)) * Math.max(1, Math.ceil(h / mpp / 4096));
    $('frameInfo').textContent = 'Kadr: ' + distText(w) + ' × ' + distText(h) +
      '  (1:' + scale + ' → ' + sheets + ' płyt.)';
  }
  map.on('moveend zoomend', updateFrame);
  $('rasterScale').addEventListener('change', updateFrame);
  updateFrame();

  // ---- side panel -----------------------------------------------------------
  function setPanel(collapsed) {
    document.body.classList.toggle('panel-collapsed', collapsed);
    $('btnLayout').title = collapsed ? 'Pokaz panel warstw' : 'Zwin panel warstw';
    try { localStorage.setItem('gis_panel_collapsed', collapsed ? '1' : '0'); } catch (e) {}
    setTimeout(function () { map.invalidateSize(); }, 60);
  }
  var storedPanel = null;
  try { storedPanel = localStorage.getItem('gis_panel_collapsed'); } catch (e) {}
  setPanel(storedPanel === '1');
  $('btnLayout').addEventListener('click', function () {
    setPanel(!document.body.classList.contains('panel-collapsed'));
  });

  // ---- links open in the system browser ------------------------------------
  document.addEventListener('click', function (e) {
    var a = e.target && e.target.closest ? e.target.closest('a[href]') : null;
    if (!a) return;
    var href = a.getAttribute('href') || '';
    if (/^https?:\/\//i.test(href)) {
      e.preventDefault();
      e.stopPropagation();
      GISBridge.send('openExternal', { url: href });
    }
  }, true);

  // ---- address search and suggestions --------------------------------------
  var addr = $('addr'), list = $('addrSuggest');
  var suggestCache = {};
  var suggestTimer = null;
  var highlighted = -1;
  var shownItems = [];

  function hideSuggest() {
    list.hidden = true;
    list.innerHTML = '';
    highlighted = -1;
    shownItems = [];
  }

  function pick(item) {
    map.setView([item.lat, item.lon], 17);
    status(item.label);
    addr.value = item.label;
    hideSuggest();
  }

  function highlight(i) {
    highlighted = i;
    Array.prototype.forEach.call(list.children, function (li, k) { li.classList.toggle('hl', k === i); });
  }

  function showSuggest(items) {
    list.innerHTML = '';
    highlighted = -1;
    shownItems = items || [];
    if (!shownItems.length) { list.hidden = true; return; }
    shownItems.forEach(function (item) {
      var li = document.createElement('li');
      li.textContent = item.label;
      // Pressing, not clicking: the pick happens before the input loses focus.
      li.addEventListener('mousedown', function (e) { e.preventDefault(); pick(item); });
      list.appendChild(li);
    });
    list.hidden = false;
  }

  addr.addEventListener('input', function () {
    clearTimeout(suggestTimer);
    suggestTimer = null;
    var q = addr.value.trim();
    if (q.length < 3) { hideSuggest(); return; }
    if (Object.prototype.hasOwnProperty.call(suggestCache, q)) { showSuggest(suggestCache[q]); return; }
    suggestTimer = setTimeout(function () {
      suggestTimer = null;
      GISBridge.send('searchAddressSuggest', { query: q });
    }, 250);
  });

  function search() {
    var q = addr.value.trim();
    if (!q) return;
    status('Szukam…');
    GISBridge.send('searchAddress', { query: q });
  }

  addr.addEventListener('keydown', function (e) {
    var n = shownItems.length;
    if (e.key === 'ArrowDown' && !list.hidden && n) {
      e.preventDefault();
      highlight(highlighted < 0 ? 0 : (highlighted + 1) % n);
    } else if (e.key === 'ArrowUp' && !list.hidden && n) {
      e.preventDefault();
      highlight(highlighted <= 0 ? n - 1 : highlighted - 1);
    } else if (e.key === 'Escape') {
      hideSuggest();
    } else if (e.key === 'Enter') {
      e.preventDefault();
      if (!list.hidden && highlighted >= 0 && highlighted < n) pick(shownItems[highlighted]);
      else search();
    }
  });
  addr.addEventListener('blur', function () { setTimeout(hideSuggest, 150); });
  $('btnSearch').addEventListener('click', search);

  // ---- actions --------------------------------------------------------------
  $('btnFetch').addEventListener('click', function () {
    var keys = [];
    LAYERS.forEach(function (row) { if ($(row[0]).checked) keys.push(row[1]); });
    if (!keys.length) { status('Zaznacz co najmniej jedną warstwę do pobrania.', true); return; }
    $('btnPlace').disabled = true;
    setStep('stepFetch', 'active');
    setStep('stepPlace', '');
    showChips({}, false);
    progressOn(2, false);
    status('Pobieram warstwy…');
    var b = map.getBounds();
    var cloudStep = parseFloat($('terenChmuraKrok').value);
    GISBridge.send('fetch', {
      bboxWgs84: [b.getWest(), b.getSouth(), b.getEast(), b.getNorth()],
      layers: keys,
      rasterScale: parseInt($('rasterScale').value, 10),
      terrainStep: parseInt($('terrainStep').value, 10),
      terenChmuraKrok: isNaN(cloudStep) ? 1.0 : cloudStep,
      poziomiceCiecie: parseFloat($('poziomiceCiecie').value),
      poziomiceWygladz: $('lyPoziomiceWygladz').checked
    });
  });

  $('btnPlace').addEventListener('click', function () {
    setStep('stepPlace', 'active');
    status('Dodaję do projektu…');
    GISBridge.send('place', {});
  });

  $('btnCancel').addEventListener('click', function () {
    GISBridge.send('cancel');
    this.disabled = true;
    this.textContent = 'Anulowanie…';
  });

  $('btnSetOrigin').addEventListener('click', function () {
    var c = map.getCenter();
    GISBridge.send('setOrigin', { lat: c.lat, lon: c.lng });
  });

  $('btnSettings').addEventListener('click', function () { GISBridge.send('getLayers'); });
  $('btnSettingsClose').addEventListener('click', function () { $('settings').hidden = true; });
  $('btnSettingsSave').addEventListener('click', function () {
    var mapping = {};
    Array.prototype.forEach.call($('settingsRows').querySelectorAll('select'), function (sel) {
      mapping[sel.getAttribute('data-key')] = sel.value;
    });
    GISBridge.send('settingsChanged', { mapping: mapping });
    $('settings').hidden = true;
    status('Ustawienia zapisane');
  });

  function addOption(sel, value, text, before) {
    var o = document.createElement('option');
    o.value = value;
    o.textContent = text;
    sel.insertBefore(o, before || null);
    return o;
  }

  function buildSettings(msg) {
    var rows = $('settingsRows');
    rows.innerHTML = '';
    var layers = Array.isArray(msg.layers) ? msg.layers : [];
    var mapping = msg.mapping || {};
    SETTINGS_TYPES.forEach(function (t) {
      var key = t[0];
      var row = document.createElement('div');
      row.className = 'settings-row';
      var label = document.createElement('label');
      label.textContent = t[1];
      var sel = document.createElement('select');
      sel.setAttribute('data-key', key);
      layers.forEach(function (name) { addOption(sel, name, name); });
      var newEntry = addOption(sel, '__new__', '➕ nowa warstwa…');
      var mapped = mapping[key];
      if (typeof mapped === 'string' && mapped) {
        if (layers.indexOf(mapped) < 0) addOption(sel, mapped, mapped + ' (nowa)', newEntry);
        sel.value = mapped;
      }
      sel.addEventListener('change', function () {
        if (sel.value !== '__new__') return;
        var answer = window.prompt('Nazwa nowej warstwy:', 'GIS_' + key.toUpperCase());
        var name = answer === null ? '' : String(answer).trim();
        if (!name) { sel.selectedIndex = 0; return; }
        var existing = Array.prototype.filter.call(sel.options, function (o) { return o.value === name; })[0];
        if (!existing) addOption(sel, name, name + ' (nowa)', newEntry);
        sel.value = name;
      });
      row.appendChild(label);
      row.appendChild(sel);
      rows.appendChild(row);
    });
    $('settings').hidden = false;
  }

  // ---- handlers -------------------------------------------------------------
  var H = GISBridge.handlers;
  H.noop = function () {};
  H.pong = function (m) {
    status(DEMO ? demoStatus : 'Połączono z ArchiCAD ✓');
    $('buildTag').textContent = m.wersja ? 'v' + m.wersja : 'build ' + m.build;
  };
  H.init = function (m) {
    // The demo stays on its sample area, wherever the project lies.
    if (!DEMO && m.lat && m.lon) map.setView([m.lat, m.lon], m.zoom || 16);
  };
  H.addressResults = function (m) {
    if (m.lat && m.lon) {
      map.setView([m.lat, m.lon], 17);
      status(m.label);
    } else {
      status('Nie znaleziono adresu', true);
    }
  };
  H.addressSuggestions = function (m) {
    if (typeof m.query !== 'string') return;
    var items = Array.isArray(m.items) ? m.items : [];
    suggestCache[m.query] = items;
    if (m.query === addr.value.trim()) showSuggest(items);
  };
  H.progress = function (m) {
    if (m.total > 0 && m.done !== undefined && m.done !== null) {
      var percent = Math.round(100 * m.done / m.total);
      status((m.label || 'Pobieranie') + ' — ' + percent + '%');
      progressOn(percent, m.cancellable);
    } else {
      status(m.label || 'Pobieranie…');
      progressOn(5, m.cancellable);
    }
  };
  H.fetchDone = function (m) {
    var counts = m.counts || {};
    var any = Object.keys(counts).length > 0;
    $('btnPlace').disabled = !any;
    preview.clearLayers();
    if (m.geojson) {
      try {
        preview.addData(typeof m.geojson === 'string' ? JSON.parse(m.geojson) : m.geojson);
      } catch (e) {
        console.warn('Podglad GeoJSON:', e);
      }
    }
    progressOff();
    showChips(counts, false);
    setStep('stepFetch', any ? 'done' : '');
    setStep('stepPlace', any ? 'active' : '');
    if (m.warning) {
      status(m.warning, !any);
      console.warn(m.warning);
    } else if (any) {
      status('Pobrano — sprawdź podgląd i kliknij „2. Dodaj do projektu”');
    } else {
      status('Nic nie pobrano dla tego obszaru', true);
    }
  };
  H.placeDone = function (m) {
    progressOff();
    showChips(m.counts || {}, true);
    setStep('stepPlace', 'done');
    status('Dodano do projektu' + (m.warning ? ' — uwagi w Raporcie (Okno → Palety → Raport)' : ''));
  };
  H.originSet = function (m) {
    var code = m.epsg || 2180;
    var zones = { 2176: 5, 2177: 6, 2178: 7, 2179: 8 };
    var sys = zones[code] ? 'PL-2000 strefa ' + zones[code] + ', EPSG:' + code : 'EPSG:' + code;
    var hText = (m.h !== undefined && m.h !== null && m.h !== 0)
      ? ', H=' + Math.round(m.h) + ' m n.p.m. (PL-EVRF2007-NH)' : '';
    status('Lokalizacja projektu ustawiona: E=' + Math.round(m.e) + ' N=' + Math.round(m.n) +
      ' (' + sys + ')' + hText);
  };
  H.error = function (m) { status(m.msg || 'Błąd', true); };
  H.cancelled = function () { status('Anulowano'); progressOff(); };
  H.layerList = buildSettings;

  // ---- start ----------------------------------------------------------------
  GISBridge.start();
  GISBridge.send('ping');
  GISBridge.send('getInit');
})();
