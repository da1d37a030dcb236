/* Plan view of the host window: the project's drawing in project coordinates.
   Drag pans, the wheel and a pinch zoom about the pointer; a click picks the
   element under the pointer, Ctrl+drag (or a right-button drag) picks the
   elements inside a box, Shift adds to the selection. Elements are bucketed
   per layer into a grid of tiles, each tile one Path2D per kind, so a frame
   strokes only the tiles in view and never walks the elements themselves. */
(function () {
  'use strict';
  var Views = window.VeldraViews;            // host.js
  var canvas = document.getElementById('planCanvas');
  var ctx = canvas.getContext('2d');
  var info = document.getElementById('planSelection');

  var GRID = 24;                // tiles per side
  var PAPER_SCALE = 500;        // text sizes are mm on paper at this scale
  var MIN_TEXT_PX = 4;          // smaller texts are not drawn
  var PICK_PX = 5;              // click tolerance
  var PENS = ['#000000', '#000000', '#c00000', '#008000', '#0000c0', '#c08000', '#008080', '#800080',
              '#606060', '#a0a0a0', '#ff6000', '#40a0ff', '#80c000', '#c04080', '#404000', '#004080'];
  var TYPE_NAMES = { polyline: 'Linia', fill: 'Wypelnienie', text: 'Tekst', picture: 'Obraz', slab: 'Strop' };

  var plan = null;              // parsed document
  var scene = null;             // { layers: {index: {tiles: [...]}}, order: [...] }
  var view = { cx: 0, cy: 0, scale: 1 };   // world centre, pixels per metre
  var selected = new Set();
  var selectedPath = null;
  var boxDrag = null;
  // firstDrawAt: ms since the page opened; flush: frames include rasterising (for measurements).
  var stats = { firstDrawMs: null, firstDrawAt: null, lastFrameMs: null, frameMs: [], elements: 0, loadStart: 0, flush: false };
  var framePending = false;

  function colourOf(el) {
    if (el.rgb) {
      return 'rgb(' + el.rgb.map(function (c) { return Math.round(Math.max(0, Math.min(1, c)) * 255); }).join(',') + ')';
    }
    var p = el.pen | 0;
    return PENS[((p % PENS.length) + PENS.length) % PENS.length];
  }

  function boxOfPoints(pts, b) {
    for (var i = 0; i + 1 < pts.length; i += 2) {
      if (pts[i] < b[0]) b[0] = pts[i];
      if (pts[i + 1] < b[1]) b[1] = pts[i + 1];
      if (pts[i] > b[2]) b[2] = pts[i];
      if (pts[i + 1] > b[3]) b[3] = pts[i + 1];
    }
    return b;
  }

  function textHeight(el) { return el.size * PAPER_SCALE / 1000; }

  function elementBox(el) {
    var b = [Infinity, Infinity, -Infinity, -Infinity];
    var lists = el.parts || el.rings;
    if (lists) { lists.forEach(function (r) { boxOfPoints(r, b); }); return b; }
    if (el.type === 'text') {
      var h = textHeight(el), w = h * 0.6 * Math.max(1, (el.text || '').length);
      var c = Math.cos(el.angle || 0), s = Math.sin(el.angle || 0);
      return boxOfPoints([el.x, el.y, el.x + w * c, el.y + w * s, el.x - h * s, el.y + h * c,
                          el.x + w * c - h * s, el.y + w * s + h * c], b);
    }
    if (el.type === 'picture') return boxOfPoints(pictureCorners(el), b);
    return b;
  }

  function pictureCorners(el) {
    var c = Math.cos(el.angle || 0), s = Math.sin(el.angle || 0);
    return [el.x, el.y, el.x + el.w * c, el.y + el.w * s,
            el.x + el.w * c - el.h * s, el.y + el.w * s + el.h * c, el.x - el.h * s, el.y + el.h * c];
  }

  function addRing(path, pts, closed) {
    if (pts.length < 4) return;
    path.moveTo(pts[0], pts[1]);
    for (var i = 2; i + 1 < pts.length; i += 2) path.lineTo(pts[i], pts[i + 1]);
    if (closed) path.closePath();
  }

  // Tiles of one layer: lines and fills grouped by colour, texts kept as a list.
  function buildScene(doc) {
    var bounds = doc.bounds || [-50, -50, 50, 50];
    var w = Math.max(bounds[2] - bounds[0], 1e-6), h = Math.max(bounds[3] - bounds[1], 1e-6);
    var layers = {};
    doc.elements.forEach(function (el) {
      el.box = elementBox(el);
      if (!(el.box[0] <= el.box[2])) return;
      var L = layers[el.layer] || (layers[el.layer] = { tiles: {} });
      var tx = Math.min(GRID - 1, Math.max(0, Math.floor(((el.box[0] + el.box[2]) / 2 - bounds[0]) / w * GRID)));
      var ty = Math.min(GRID - 1, Math.max(0, Math.floor(((el.box[1] + el.box[3]) / 2 - bounds[1]) / h * GRID)));
      var key = tx + ty * GRID;
      var t = L.tiles[key] || (L.tiles[key] = { box: [Infinity, Infinity, -Infinity, -Infinity], lines: {}, fills: {}, texts: [], elements: [] });
      t.box[0] = Math.min(t.box[0], el.box[0]); t.box[1] = Math.min(t.box[1], el.box[1]);
      t.box[2] = Math.max(t.box[2], el.box[2]); t.box[3] = Math.max(t.box[3], el.box[3]);
      t.elements.push(el);
      var colour = colourOf(el);
      if (el.type === 'polyline') {
        var path = t.lines[colour] || (t.lines[colour] = new Path2D());
        el.parts.forEach(function (part) { addRing(path, part, el.closed); });
      } else if (el.type === 'fill' || el.type === 'slab') {
        var target = el.type === 'fill' ? (t.fills[colour] || (t.fills[colour] = new Path2D()))
                                        : (t.lines[colour] || (t.lines[colour] = new Path2D()));
        el.rings.forEach(function (r) { addRing(target, r, true); });
      } else if (el.type === 'text') {
        t.texts.push(el);
      } else if (el.type === 'picture') {
        addRing(t.lines[colour] || (t.lines[colour] = new Path2D()), pictureCorners(el), true);
      }
    });
    Object.keys(layers).forEach(function (k) {
      layers[k].tiles = Object.keys(layers[k].tiles).map(function (key) { return layers[k].tiles[key]; });
    });
    return { layers: layers, order: doc.layers.map(function (l) { return l.index; }) };
  }

  function resize() {
    var r = canvas.getBoundingClientRect();
    var dpr = window.devicePixelRatio || 1;
    var w = Math.max(1, Math.round(r.width * dpr)), h = Math.max(1, Math.round(r.height * dpr));
    if (canvas.width !== w || canvas.height !== h) { canvas.width = w; canvas.height = h; }
  }

  function cssSize() { var r = canvas.getBoundingClientRect(); return { w: r.width, h: r.height }; }

  function worldToScreen(x, y) {
    var s = cssSize();
    return { x: s.w / 2 + (x - view.cx) * view.scale, y: s.h / 2 - (y - view.cy) * view.scale };
  }
  function screenToWorld(px, py) {
    var s = cssSize();
    return { x: view.cx + (px - s.w / 2) / view.scale, y: view.cy - (py - s.h / 2) / view.scale };
  }

  function fitAll() {
    var s = cssSize();
    var b = plan && plan.bounds;
    if (!b) { view = { cx: 0, cy: 0, scale: 1 }; return; }
    view.cx = (b[0] + b[2]) / 2;
    view.cy = (b[1] + b[3]) / 2;
    view.scale = 0.9 * Math.min(s.w / Math.max(b[2] - b[0], 1), s.h / Math.max(b[3] - b[1], 1));
  }

  function visibleBox() {
    var s = cssSize();
    var a = screenToWorld(0, s.h), c = screenToWorld(s.w, 0);
    return [a.x, a.y, c.x, c.y];
  }
  function overlaps(a, b) { return a[0] <= b[2] && a[2] >= b[0] && a[1] <= b[3] && a[3] >= b[1]; }

  function draw() {
    framePending = false;
    var t0 = performance.now();
    resize();
    var dpr = window.devicePixelRatio || 1, s = cssSize();
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.fillStyle = '#ffffff';
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    if (scene) {
      var vb = visibleBox();
      // World to device pixels, y up.
      var k = view.scale * dpr;
      var world = [k, 0, 0, -k, (s.w / 2 - view.cx * view.scale) * dpr, (s.h / 2 + view.cy * view.scale) * dpr];
      var hidden = Views.hidden;
      var visible = scene.order.filter(function (i) { return !hidden.has(i) && scene.layers[i]; });
      var inView = visible.map(function (i) {
        return scene.layers[i].tiles.filter(function (t) { return overlaps(t.box, vb); });
      });
      ctx.setTransform.apply(ctx, world);
      ctx.globalAlpha = 0.35;
      inView.forEach(function (tiles) {
        tiles.forEach(function (t) {
          for (var c in t.fills) { ctx.fillStyle = c; ctx.fill(t.fills[c], 'evenodd'); }
        });
      });
      ctx.globalAlpha = 1;
      ctx.lineWidth = 1 / k;
      inView.forEach(function (tiles) {
        tiles.forEach(function (t) {
          for (var c in t.lines) { ctx.strokeStyle = c; ctx.stroke(t.lines[c]); }
          for (var f in t.fills) { ctx.strokeStyle = f; ctx.stroke(t.fills[f]); }
        });
      });
      if (selectedPath) {
        ctx.strokeStyle = '#ff00ff';
        ctx.lineWidth = 3 / k;
        ctx.stroke(selectedPath);
      }
      drawTexts(inView);
      drawSurveyPoint();
    }
    drawScaleBar();
    if (boxDrag) {
      ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
      ctx.strokeStyle = '#0060ff';
      ctx.lineWidth = 1;
      ctx.setLineDash([4, 3]);
      ctx.strokeRect(boxDrag.x0, boxDrag.y0, boxDrag.x1 - boxDrag.x0, boxDrag.y1 - boxDrag.y0);
      ctx.setLineDash([]);
    }
    if (stats.flush) ctx.getImageData(0, 0, 1, 1);
    var ms = performance.now() - t0;
    stats.lastFrameMs = ms;
    stats.frameMs.push(ms);
    if (stats.frameMs.length > 600) stats.frameMs.shift();
  }

  function drawTexts(inView) {
    var dpr = window.devicePixelRatio || 1;
    inView.forEach(function (tiles) {
      tiles.forEach(function (t) {
        t.texts.forEach(function (el) {
          var px = textHeight(el) * view.scale;
          if (px < MIN_TEXT_PX) return;
          var p = worldToScreen(el.x, el.y);
          ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
          ctx.translate(p.x, p.y);
          ctx.rotate(-(el.angle || 0));
          ctx.fillStyle = colourOf(el);
          ctx.font = px.toFixed(1) + 'px sans-serif';
          ctx.fillText(el.text || '', 0, 0);
        });
      });
    });
  }

  function drawSurveyPoint() {
    if (!plan.survey) return;
    var dpr = window.devicePixelRatio || 1;
    var p = worldToScreen(plan.survey.x, plan.survey.y);
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    ctx.strokeStyle = '#e00000';
    ctx.lineWidth = 1.5;
    ctx.beginPath();
    ctx.arc(p.x, p.y, 6, 0, 2 * Math.PI);
    ctx.moveTo(p.x - 10, p.y); ctx.lineTo(p.x + 10, p.y);
    ctx.moveTo(p.x, p.y - 10); ctx.lineTo(p.x, p.y + 10);
    ctx.stroke();
  }

  // A round length (1, 2 or 5 times a power of ten) about 100 px long.
  function scaleBarLength() {
    var target = 100 / view.scale, p = Math.pow(10, Math.floor(Math.log10(target)));
    var best = p;
    [1, 2, 5, 10].forEach(function (m) { if (m * p <= target) best = m * p; });
    return best;
  }

  function drawScaleBar() {
    var dpr = window.devicePixelRatio || 1, s = cssSize();
    var metres = scaleBarLength(), px = metres * view.scale;
    ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
    var x = 12, y = s.h - 14;
    ctx.fillStyle = 'rgba(255,255,255,0.8)';
    ctx.fillRect(x - 4, y - 18, px + 60, 26);
    ctx.strokeStyle = '#000';
    ctx.lineWidth = 2;
    ctx.beginPath();
    ctx.moveTo(x, y - 6); ctx.lineTo(x, y); ctx.lineTo(x + px, y); ctx.lineTo(x + px, y - 6);
    ctx.stroke();
    ctx.fillStyle = '#000';
    ctx.font = '12px sans-serif';
    var label = metres >= 1000 ? (metres / 1000) + ' km' : (metres >= 1 ? metres : Number(metres.toPrecision(3))) + ' m';
    ctx.fillText(label, x + px + 6, y);
  }

  function requestDraw() {
    if (framePending) return;
    framePending = true;
    requestAnimationFrame(draw);
  }

  // ---- selection ----------------------------------------------------------

  function distToSegment(px, py, ax, ay, bx, by) {
    var dx = bx - ax, dy = by - ay, l = dx * dx + dy * dy;
    var t = l > 0 ? Math.max(0, Math.min(1, ((px - ax) * dx + (py - ay) * dy) / l)) : 0;
    var x = ax + t * dx - px, y = ay + t * dy - py;
    return Math.sqrt(x * x + y * y);
  }
  function nearRing(pts, closed, x, y, tol) {
    var n = pts.length;
    for (var i = 0; i + 3 < n; i += 2) if (distToSegment(x, y, pts[i], pts[i + 1], pts[i + 2], pts[i + 3]) <= tol) return true;
    return closed && n >= 4 && distToSegment(x, y, pts[n - 2], pts[n - 1], pts[0], pts[1]) <= tol;
  }
  function insideRing(pts, x, y) {
    var inside = false;
    for (var i = 0, j = pts.length - 2; i + 1 < pts.length; j = i, i += 2) {
      if ((pts[i + 1] > y) !== (pts[j + 1] > y) &&
          x < (pts[j] - pts[i]) * (y - pts[i + 1]) / (pts[j + 1] - pts[i + 1]) + pts[i]) inside = !inside;
    }
    return inside;
  }
  function hits(el, x, y, tol) {
    if (el.type === 'polyline') return el.parts.some(function (part) { return nearRing(part, el.closed, x, y, tol); });
    if (el.rings) {
      var n = 0;
      el.rings.forEach(function (r) { if (insideRing(r, x, y)) n++; });
      return n % 2 === 1 || el.rings.some(function (r) { return nearRing(r, true, x, y, tol); });
    }
    if (el.type === 'picture') return insideRing(pictureCorners(el), x, y);
    return x >= el.box[0] - tol && x <= el.box[2] + tol && y >= el.box[1] - tol && y <= el.box[3] + tol;
  }

  // Elements of visible layers: under a point (the topmost one), or wholly inside a box.
  function pick(test) {
    var out = [];
    if (!scene) return out;
    scene.order.forEach(function (i) {
      if (Views.hidden.has(i) || !scene.layers[i]) return;
      scene.layers[i].tiles.forEach(function (t) {
        if (!test.tile(t.box)) return;
        t.elements.forEach(function (el) { if (test.element(el)) out.push(el); });
      });
    });
    return out;
  }

  function pickAt(px, py) {
    var w = screenToWorld(px, py), tol = PICK_PX / view.scale;
    var near = [w.x - tol, w.y - tol, w.x + tol, w.y + tol];
    var found = pick({
      tile: function (b) { return overlaps(b, near); },
      element: function (el) { return overlaps(el.box, near) && hits(el, w.x, w.y, tol); }
    });
    // Lines and texts before the areas they lie on, so a parcel edge wins over the fill beneath.
    found.sort(function (a, b) { return (a.rings && a.type === 'fill' ? 1 : 0) - (b.rings && b.type === 'fill' ? 1 : 0); });
    return found.slice(0, 1);
  }

  function pickBox(x0, y0, x1, y1) {
    var a = screenToWorld(Math.min(x0, x1), Math.max(y0, y1)), b = screenToWorld(Math.max(x0, x1), Math.min(y0, y1));
    var box = [a.x, a.y, b.x, b.y];
    return pick({
      tile: function (t) { return overlaps(t, box); },
      element: function (el) { return el.box[0] >= box[0] && el.box[1] >= box[1] && el.box[2] <= box[2] && el.box[3] <= box[3]; }
    });
  }

  function byId() {
    var m = {};
    if (plan) plan.elements.forEach(function (el) { m[el.id] = el; });
    return m;
  }

  function applySelection(elements, add) {
    if (!add) selected.clear();
    elements.forEach(function (el) { selected.add(el.id); });
    window.GISBridge.send('select', { layers: [], elements: Array.from(selected).join(' ') });
    refreshSelection();
  }

  function refreshSelection() {
    var all = byId();
    Array.from(selected).forEach(function (id) { if (!all[id]) selected.delete(id); });
    selectedPath = null;
    var layerName = {};
    if (plan) plan.layers.forEach(function (l) { layerName[l.index] = l.name; });
    var lines = [];
    selected.forEach(function (id) {
      var el = all[id];
      selectedPath = selectedPath || new Path2D();
      if (el.parts) el.parts.forEach(function (part) { addRing(selectedPath, part, el.closed); });
      else if (el.rings) el.rings.forEach(function (r) { addRing(selectedPath, r, true); });
      else addRing(selectedPath, [el.box[0], el.box[1], el.box[2], el.box[1], el.box[2], el.box[3], el.box[0], el.box[3]], true);
      if (lines.length < 50) lines.push((layerName[el.layer] || el.layer) + ' | ' + (TYPE_NAMES[el.type] || el.type) + ' | ' + (el.info || ''));
    });
    info.textContent = '';
    if (selected.size) {
      var head = document.createElement('p');
      head.textContent = 'Zaznaczone w planie: ' + selected.size;
      info.appendChild(head);
      var ul = document.createElement('ul');
      lines.forEach(function (t) { var li = document.createElement('li'); li.textContent = t; ul.appendChild(li); });
      info.appendChild(ul);
    }
    requestDraw();
  }

  // ---- input --------------------------------------------------------------

  var pointers = new Map();
  var drag = null;
  function local(ev) { var r = canvas.getBoundingClientRect(); return { x: ev.clientX - r.left, y: ev.clientY - r.top }; }

  function zoomAbout(px, py, factor) {
    var before = screenToWorld(px, py);
    view.scale = Math.max(1e-6, Math.min(1e6, view.scale * factor));
    var after = screenToWorld(px, py);
    view.cx += before.x - after.x;
    view.cy += before.y - after.y;
    requestDraw();
  }

  canvas.addEventListener('contextmenu', function (ev) { ev.preventDefault(); });
  canvas.addEventListener('pointerdown', function (ev) {
    canvas.setPointerCapture(ev.pointerId);
    var p = local(ev);
    pointers.set(ev.pointerId, p);
    if (pointers.size === 2) { drag = { pinch: pinchState() }; return; }
    if (ev.ctrlKey || ev.button === 2) {
      boxDrag = { x0: p.x, y0: p.y, x1: p.x, y1: p.y, add: ev.shiftKey };
    } else {
      drag = { x: p.x, y: p.y, startX: p.x, startY: p.y, moved: false, add: ev.shiftKey };
    }
  });
  function pinchState() {
    var ps = Array.from(pointers.values());
    return { d: Math.hypot(ps[0].x - ps[1].x, ps[0].y - ps[1].y), x: (ps[0].x + ps[1].x) / 2, y: (ps[0].y + ps[1].y) / 2 };
  }
  canvas.addEventListener('pointermove', function (ev) {
    if (!pointers.has(ev.pointerId)) return;
    var p = local(ev);
    pointers.set(ev.pointerId, p);
    if (boxDrag) { boxDrag.x1 = p.x; boxDrag.y1 = p.y; requestDraw(); return; }
    if (!drag) return;
    if (drag.pinch && pointers.size === 2) {
      var now = pinchState();
      if (drag.pinch.d > 0) zoomAbout(now.x, now.y, now.d / drag.pinch.d);
      drag.pinch = now;
      return;
    }
    if (Math.abs(p.x - drag.startX) + Math.abs(p.y - drag.startY) > 3) drag.moved = true;
    view.cx -= (p.x - drag.x) / view.scale;
    view.cy += (p.y - drag.y) / view.scale;
    drag.x = p.x; drag.y = p.y;
    requestDraw();
  });
  function pointerEnd(ev) {
    if (!pointers.delete(ev.pointerId)) return;
    if (boxDrag) {
      var b = boxDrag;
      boxDrag = null;
      applySelection(pickBox(b.x0, b.y0, b.x1, b.y1), b.add);
    } else if (drag && !drag.pinch && !drag.moved) {
      var p = local(ev);
      applySelection(pickAt(p.x, p.y), drag.add);
    }
    drag = null;
  }
  canvas.addEventListener('pointerup', pointerEnd);
  canvas.addEventListener('pointercancel', pointerEnd);
  canvas.addEventListener('wheel', function (ev) {
    ev.preventDefault();
    var p = local(ev);
    // A touchpad pinch comes as a wheel with ctrlKey and small deltas.
    var step = ev.deltaMode === 1 ? ev.deltaY * 16 : ev.deltaY;
    zoomAbout(p.x, p.y, Math.exp(-step * (ev.ctrlKey ? 0.01 : 0.0015)));
  }, { passive: false });
  window.addEventListener('resize', requestDraw);

  // ---- loading ------------------------------------------------------------

  var loading = 0;
  function load(file) {
    var mine = ++loading;
    stats.loadStart = performance.now();
    fetch(file.name + '?r=' + file.revision).then(function (r) {
      if (!r.ok) throw new Error('HTTP ' + r.status);
      return r.json();
    }).then(function (doc) {
      if (mine !== loading) return;
      var first = !plan || !plan.bounds;
      plan = doc;
      scene = buildScene(doc);
      stats.elements = doc.elements.length;
      if (first) fitAll();
      refreshSelection();
      draw();
      stats.firstDrawMs = performance.now() - stats.loadStart;
      if (stats.firstDrawAt === null) stats.firstDrawAt = performance.now();
      stats.revision = doc.revision;
      Views.planDrawn();
    }).catch(function (e) {
      info.textContent = 'Plan: nie udalo sie wczytac (' + e.message + ')';
      Views.planDrawn();
    });
  }

  Views.subscribe(function (change) {
    if (change.plan) load(change.plan);
    else if (change.selection) { selected = new Set(change.selection); refreshSelection(); }
    else if (!change.model) requestDraw();
  });

  window.VeldraPlan = {
    stats: stats,
    view: function () { return { cx: view.cx, cy: view.cy, scale: view.scale }; },
    worldToScreen: worldToScreen,
    selected: function () { return Array.from(selected); },
    fit: function () { fitAll(); requestDraw(); },
    zoom: function (factor) { var s = cssSize(); zoomAbout(s.w / 2, s.h / 2, factor); }
  };
  requestDraw();
})();
