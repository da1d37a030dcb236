/* Page of the point-cloud palette: a frame on the map, the quality level, the
   live estimate, the download with its progress, and the project origin.
   Talks to the native side only via GISBridge. */
(function () {
  'use strict';

  var GISBridge = window.GISBridge;   // gisbridge.js

  function $(id) { return document.getElementById(id); }

  // The native side answers frame changes at once; 400 ms keeps a dragged
  // frame from flooding it.
  var ESTIMATE_INTERVAL_MS = 400;
  // A drag shorter than this many pixels is a click, not a frame.
  var MIN_FRAME_PX = 6;
  // How near (pixels) a press must be to a corner to resize from it.
  var CORNER_GRAB_PX = 10;

  // ---- status and progress --------------------------------------------------
  function status(text, kind) {
    var el = $('statusLabel');
    el.textContent = text;
    el.className = kind || '';
  }

  function progressOff() {
    $('progressTrack').hidden = true;
    $('progressPct').hidden = true;
    var c = $('btnCancel');
    c.hidden = true;
    c.disabled = false;
    c.textContent = 'Anuluj';
  }

  function progressOn(pct, cancellable) {
    var p = Math.max(0, Math.min(100, Number(pct) || 0));
    $('progressTrack').hidden = false;
    $('progressFill').style.width = p + '%';
    $('progressPct').hidden = false;
    $('progressPct').textContent = Math.round(p) + '%';
    $('btnCancel').hidden = cancellable !== true;
  }

  function decimal(x, digits) { return Number(x).toFixed(digits).replace('.', ','); }

  function distText(m) { return m >= 1000 ? decimal(m / 1000, 2) + ' km' : Math.round(m) + ' m'; }

  // ---- map ------------------------------------------------------------------
  // Set by the program ahead of this script on its embedded sample area (see map.js).
  var DEMO = window.VELDRA_DEMO || null;
  var map = L.map('map', { minZoom: 4, maxZoom: 21, zoomControl: true })
    .setView(DEMO ? DEMO.center : [52.2297, 21.0122], DEMO ? DEMO.zoom : 15);
  // The orthophoto shows what the scanner saw; without a network the map stays grey.
  (DEMO
    ? L.tileLayer(DEMO.tiles, { minZoom: DEMO.minZoom, maxNativeZoom: DEMO.maxZoom, maxZoom: 21, attribution: DEMO.name })
    : L.tileLayer.wms('https://mapy.geoportal.gov.pl/wss/service/PZGIK/ORTO/WMS/StandardResolution', {
      layers: 'Raster', format: 'image/jpeg', maxZoom: 21, attribution: '© GUGiK'
    })).addTo(map);
  if (DEMO) status(DEMO.status + ' — ' + DEMO.name);
  L.control.scale({ metric: true, imperial: false, maxWidth: 160, position: 'bottomleft' }).addTo(map);

  // ---- the frame --------------------------------------------------------------
  // null: the whole map view is the frame; else the bounds the user drew.
  var frame = null;
  var frameRect = null;
  var cornerMarks = [];
  var drawing = false;

  function frameBounds() { return frame || map.getBounds(); }

  function showFrame() {
    if (!frame) {
      if (frameRect) { map.removeLayer(frameRect); frameRect = null; }
      cornerMarks.forEach(function (m) { map.removeLayer(m); });
      cornerMarks = [];
      return;
    }
    if (!frameRect) {
      frameRect = L.rectangle(frame, { color: '#2d6cb5', weight: 2, fillOpacity: 0.08, interactive: false }).addTo(map);
      corners(frame).forEach(function (c) {
        cornerMarks.push(L.marker(c, {
          interactive: false, keyboard: false,
          icon: L.divIcon({ className: 'frame-corner', iconSize: [10, 10] })
        }).addTo(map));
      });
    } else {
      frameRect.setBounds(frame);
      corners(frame).forEach(function (c, i) { cornerMarks[i].setLatLng(c); });
    }
  }

  function corners(b) { return [b.getNorthWest(), b.getNorthEast(), b.getSouthEast(), b.getSouthWest()]; }

  function describeFrame() {
    var b = frameBounds(), c = b.getCenter();
    var w = map.distance(L.latLng(c.lat, b.getWest()), L.latLng(c.lat, b.getEast()));
    var h = map.distance(L.latLng(b.getSouth(), c.lng), L.latLng(b.getNorth(), c.lng));
    $('frameText').textContent = (frame ? 'Kadr: ' : 'Kadr (cały widok mapy): ') + distText(w) + ' × ' + distText(h);
    $('btnClearFrame').disabled = !frame;
  }

  function frameChanged() {
    showFrame();
    describeFrame();
    requestEstimate();
  }

  function setDrawing(on) {
    drawing = on;
    $('btnDraw').classList.toggle('active', on);
    $('btnDraw').textContent = on ? 'Rysuj na mapie…' : 'Rysuj kadr';
    map.getContainer().style.cursor = on ? 'crosshair' : '';
  }

  $('btnDraw').addEventListener('click', function () { setDrawing(!drawing); });
  $('btnClearFrame').addEventListener('click', function () {
    frame = null;
    frameChanged();
  });

  // One gesture at a time: draw a new frame, move the frame, or drag a corner.
  // Taken in the capture phase so that Leaflet does not pan the map under it.
  var gesture = null;

  function pointOf(ev) { return map.mouseEventToContainerPoint(ev); }

  function hit(pt) {
    if (!frame) return null;
    var cs = corners(frame);
    for (var i = 0; i < cs.length; i++) {
      if (map.latLngToContainerPoint(cs[i]).distanceTo(pt) <= CORNER_GRAB_PX) return { corner: i };
    }
    var nw = map.latLngToContainerPoint(frame.getNorthWest()), se = map.latLngToContainerPoint(frame.getSouthEast());
    if (pt.x > nw.x && pt.x < se.x && pt.y > nw.y && pt.y < se.y) return { inside: true };
    return null;
  }

  var container = map.getContainer();
  container.addEventListener('mousedown', function (ev) {
    if (ev.button !== 0 || (ev.target.closest && ev.target.closest('.leaflet-control'))) return;
    var pt = pointOf(ev), h = hit(pt);
    if (drawing) {
      gesture = { kind: 'draw', from: map.containerPointToLatLng(pt), start: pt, before: frame };
    } else if (h && h.corner !== undefined) {
      // The corner across the frame stays put.
      gesture = { kind: 'corner', fixed: corners(frame)[(h.corner + 2) % 4] };
    } else if (h && h.inside) {
      gesture = { kind: 'move', start: map.containerPointToLatLng(pt), from: frame };
    } else {
      return;
    }
    ev.preventDefault();
    ev.stopPropagation();
  }, true);

  document.addEventListener('mousemove', function (ev) {
    // The button was let go outside the page.
    if (gesture && ev.buttons === 0) { endGesture(); return; }
    var pt = pointOf(ev);
    if (!gesture) {
      if (drawing) return;
      var h = hit(pt);
      container.style.cursor = !h ? '' : h.inside ? 'move' : (h.corner % 2 ? 'nesw-resize' : 'nwse-resize');
      return;
    }
    var here = map.containerPointToLatLng(pt);
    if (gesture.kind === 'draw') {
      if (gesture.start.distanceTo(pt) < MIN_FRAME_PX) return;
      frame = L.latLngBounds(gesture.from, here);
    } else if (gesture.kind === 'corner') {
      frame = L.latLngBounds(gesture.fixed, here);
    } else {
      var dLat = here.lat - gesture.start.lat, dLng = here.lng - gesture.start.lng;
      var f = gesture.from;
      frame = L.latLngBounds([f.getSouth() + dLat, f.getWest() + dLng], [f.getNorth() + dLat, f.getEast() + dLng]);
    }
    frameChanged();
  });

  function endGesture() {
    if (!gesture) return;
    var g = gesture;
    gesture = null;
    if (g.kind === 'draw') {
      setDrawing(false);
      if (frame === g.before) return;   // a click draws nothing
    }
    frameChanged();
  }
  document.addEventListener('mouseup', endGesture);

  document.addEventListener('keydown', function (ev) {
    if (ev.key === 'Escape' && drawing) setDrawing(false);
  });

  // While the view is the frame, moving the map moves the frame.
  map.on('move', function () { if (!frame) { describeFrame(); requestEstimate(); } });

  // ---- quality and estimate ---------------------------------------------------
  function detail() {
    var checked = document.querySelector('input[name="detail"]:checked');
    return checked ? checked.value : 'standard';
  }

  function bboxWgs84() {
    var b = frameBounds();
    return [b.getWest(), b.getSouth(), b.getEast(), b.getNorth()];
  }

  // At most one "frameEstimate" per interval: the first change goes at once,
  // the last change of a burst goes when the interval ends.
  var estimateTimer = null;
  var estimatePending = false;
  function requestEstimate() {
    estimatePending = true;
    if (estimateTimer) return;
    estimatePending = false;
    GISBridge.send('frameEstimate', { bboxWgs84: bboxWgs84(), detail: detail() });
    estimateTimer = setTimeout(function () {
      estimateTimer = null;
      if (estimatePending) requestEstimate();
    }, ESTIMATE_INTERVAL_MS);
  }

  Array.prototype.forEach.call(document.querySelectorAll('input[name="detail"]'), function (r) {
    r.addEventListener('change', requestEstimate);
  });

  // ---- download -----------------------------------------------------------------
  var downloading = false;
  var progressSeen = false;

  function setDownloading(on) {
    downloading = on;
    progressSeen = false;
    $('btnDownload').disabled = on;
    if (!on) progressOff();
  }

  $('btnDownload').addEventListener('click', function () {
    setDownloading(true);
    $('resultText').hidden = true;
    status('Rozpoczynam pobieranie…');
    progressOn(0, false);
    GISBridge.send('download', { bboxWgs84: bboxWgs84(), detail: detail() });
  });

  $('btnCancel').addEventListener('click', function () {
    GISBridge.send('cancel');
    this.disabled = true;
    this.textContent = 'Anulowanie…';
  });

  $('btnOrigin').addEventListener('click', function () {
    var c = map.getCenter();
    GISBridge.send('setOrigin', { lat: c.lat, lon: c.lng });
  });

  // ---- handlers -----------------------------------------------------------------
  var H = GISBridge.handlers;
  H.noop = function () {};
  H.pong = function (m) { $('buildTag').textContent = m.wersja ? 'v' + m.wersja : 'build ' + m.build; };
  H.init = function (m) {
    if (!DEMO && m.lat && m.lon) map.setView([m.lat, m.lon], m.zoom || 16);
  };
  H.estimateDone = function (m) {
    var points = Number(m.points) || 0;
    $('estPoints').textContent = points.toLocaleString('pl-PL');
    $('estSize').textContent = decimal(Number(m.sizeMB) || 0, 1) + ' MB';
    $('estDensity').textContent = decimal(Number(m.density) || 0, 1) + ' pkt/m²';
    $('estWarning').hidden = m.overLimit !== true;
    $('estimate').classList.toggle('over', m.overLimit === true);
  };
  H.progress = function (m) {
    // Also a download this page did not start itself (before a reload, in another tab).
    if (!downloading) setDownloading(true);
    progressSeen = true;
    status(m.label || 'Pobieranie…');
    progressOn(m.pct, m.cancellable);
  };
  H.cancelled = function () {
    if (downloading) status('Anulowanie…');
  };
  H.downloadDone = function (m) {
    setDownloading(false);
    var ok = m.ok === true;
    var r = $('resultText');
    r.textContent = m.msg || (ok ? 'Gotowe' : 'Nie udalo sie pobrac chmury.');
    r.className = ok ? 'ok' : 'failed';
    r.hidden = false;
    status(ok ? 'Chmura punktów gotowa' : (m.msg || 'Pobieranie nieudane'), ok ? 'ok' : 'error');
    // The host window offers to show the new cloud.
    if (ok && window.parent !== window) {
      try { window.parent.postMessage({ veldraCloudReady: { msg: m.msg || '' } }, location.origin); } catch (e) {}
    }
  };
  H.originSet = function (m) {
    $('originText').textContent = 'Lokalizacja projektu: E=' + decimal(m.e, 2) + ' N=' + decimal(m.n, 2);
    status('Lokalizacja projektu ustawiona wg środka mapy', 'ok');
  };
  H.error = function (m) {
    // A download refused before it started gives the button back.
    if (downloading && !progressSeen) setDownloading(false);
    status(m.msg || 'Błąd', 'error');
  };

  // ---- start ----------------------------------------------------------------------
  GISBridge.start();
  GISBridge.send('ping');
  GISBridge.send('getInit');
  describeFrame();
  requestEstimate();
})();
