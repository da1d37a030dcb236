/* Stand-in host window: add-on menu, report window, layers, undo, export, alerts. */
(function () {
  'use strict';
  var GISBridge = window.GISBridge;   // gisbridge.js

  function $(id) { return document.getElementById(id); }

  // What the plan and 3D views share: hidden layers and the current project
  // files, {plan: {name, revision}, model: {name, revision}}. A view subscribes
  // with fn({plan}) or fn({model}) for a new file, fn({selection: ids}) for the
  // host's selection, fn({}) for new ticks.
  var Views = window.VeldraViews = {
    hidden: new Set(),
    files: {},
    _subscribers: [],
    subscribe: function (fn) {
      Views._subscribers.push(fn);
      if (Views.files.plan) fn({ plan: Views.files.plan });
      if (Views.files.model) fn({ model: Views.files.model });
    },
    _publish: function (change) { Views._subscribers.forEach(function (fn) { fn(change); }); },
    setHidden: function (layer, hidden) {
      if (hidden) Views.hidden.add(layer); else Views.hidden.delete(layer);
      Views._publish({});
    }
  };
  var askedRevision = null;

  var modalQueue = [];
  function showModal(title, text, buttons, onAnswer) {
    modalQueue.push({ title: title, text: text, buttons: buttons, onAnswer: onAnswer });
    if (modalQueue.length === 1) openModal();
  }
  function openModal() {
    var m = modalQueue[0];
    if (!m) return;
    $('modalTitle').textContent = m.title || '';
    $('modalText').textContent = m.text || '';
    var box = $('modalButtons');
    box.innerHTML = '';
    m.buttons.forEach(function (label, i) {
      var b = document.createElement('button');
      b.type = 'button';
      b.textContent = label;
      b.addEventListener('click', function () {
        $('modal').hidden = true;
        modalQueue.shift();
        if (m.onAnswer) m.onAnswer(i + 1);
        openModal();
      });
      box.appendChild(b);
    });
    $('modal').hidden = false;
  }

  var menuOpen = false;
  $('menuTop').addEventListener('click', function () { menuOpen = !menuOpen; $('menuDrop').hidden = !menuOpen; });

  function render(s) {
    var ul = $('menuItems');
    ul.innerHTML = '';
    (s.menu || []).forEach(function (it) {
      var li = document.createElement('li');
      li.textContent = (it.checked ? '✓ ' : '') + it.text;
      li.className = it.checked ? 'checked' : '';
      li.setAttribute('data-item', it.item);
      li.addEventListener('click', function () {
        menuOpen = false;
        $('menuDrop').hidden = true;
        GISBridge.send('menu', { item: it.item });
      });
      ul.appendChild(li);
    });
    renderLayers(s.layers || []);
    $('elementTotal').textContent = 'Elementy w projekcie: ' + (s.elements || 0);
    var undo = s.undo || {};
    $('btnUndo').disabled = !undo.available;
    $('btnUndo').textContent = undo.available ? 'Cofnij: ' + undo.title : 'Cofnij';
    var ex = s.exports || {};
    $('btnExportDxf').disabled = !ex.dxf;
    $('btnExportGltf').disabled = !ex.gltf;
    $('projectName').textContent = s.project ? 'Projekt: ' + s.project : 'Projekt bez pliku';
    var ol = $('reportLines');
    if (ol.children.length !== (s.report || []).length) {
      ol.innerHTML = '';
      (s.report || []).forEach(function (line) {
        var li = document.createElement('li');
        li.textContent = line;
        ol.appendChild(li);
      });
    }
    if (s.palette) showPalette('map', s.palette);
    if (s.cloudPalette) showPalette('cloud', s.cloudPalette);
    if (window.VeldraSelection) window.VeldraSelection.render(s);
    // Any change of the project (import, undo, cleanup) gives a new revision.
    // The model is asked for once the plan is drawn: building the GLB of a
    // large project would otherwise hold up the plan's first picture.
    if (s.revision !== undefined && s.revision !== askedRevision) {
      askedRevision = s.revision;
      modelWanted = true;
      GISBridge.send('views', { file: 'plan' });
    }
    if (s.selectionStamp !== undefined && s.selectionStamp !== seenSelection) {
      seenSelection = s.selectionStamp;
      GISBridge.send('selection');
    }
  }
  var modelWanted = false, seenSelection = null;
  Views.planDrawn = function () {
    if (!modelWanted) return;
    modelWanted = false;
    GISBridge.send('views', { file: 'model' });
  };

  // Rebuilt only when it changes, so a tick being clicked is not replaced under the pointer.
  var shownLayers = '';
  function renderLayers(layers) {
    var signature = JSON.stringify(layers);
    if (signature === shownLayers) return;
    shownLayers = signature;
    var tb = $('layerTable').querySelector('tbody');
    tb.innerHTML = '';
    layers.forEach(function (l) {
      var tr = document.createElement('tr');
      var a = document.createElement('td'), b = document.createElement('td');
      // The tick shows or hides the layer in the plan and 3D views.
      var cb = document.createElement('input');
      cb.type = 'checkbox';
      cb.title = 'Widoczna w widokach';
      cb.checked = !Views.hidden.has(l.index);
      cb.setAttribute('data-view-layer', l.name);
      cb.addEventListener('change', function () { Views.setHidden(l.index, !cb.checked); });
      a.appendChild(cb);
      a.appendChild(document.createTextNode(l.name));
      b.textContent = l.count;
      tr.appendChild(a);
      tr.appendChild(b);
      tb.appendChild(tr);
    });
  }

  // The palettes in this window, by the name the native side gives them.
  var PALETTES = { map: { box: 'palette', frame: 'paletteFrame' }, cloud: { box: 'cloudPalette', frame: 'cloudFrame' } };
  function showPalette(name, p) {
    var ids = PALETTES[name];
    if (!ids) return;
    if (p.url && $(ids.frame).getAttribute('src') !== p.url) $(ids.frame).src = p.url;
    if (p.visible !== undefined) $(ids.box).hidden = !p.visible;
  }

  var H = GISBridge.handlers;
  H.hostState = render;
  H.notice = function (m) { showModal('GIS Import', m.text, ['OK']); };
  H.alert = function (m) {
    showModal(m.title || 'GIS Import', m.text, m.buttons && m.buttons.length ? m.buttons : ['OK'], function (answer) {
      GISBridge.send('alertAnswer', { id: m.id, answer: answer });
    });
  };
  H.views = function (m) {
    if (m.error) {
      console.warn('Widoki projektu:', m.error);
      // The cloud is asked for by the user, who is told why it cannot be shown.
      if (m.file === 'cloud') { showModal('Chmura punktow', m.error, ['OK']); Views._publish({ cloudError: m.error }); }
      if (m.file === 'plan') Views.planDrawn();
      return;
    }
    var change = {};
    change[m.file] = Views.files[m.file] = { name: m.name, revision: m.revision };
    Views._publish(change);
  };
  // The host's selection, whoever set it (plan, selection pane, a command).
  H.selection = function (m) { Views._publish({ selection: m.ids || [] }); };
  H.paletteLoad = function (m) { showPalette(m.palette || 'map', { url: m.url }); };
  H.paletteVisible = function (m) { showPalette(m.palette || 'map', { visible: m.visible }); };
  H.error = function (m) { showModal('Blad', m.msg, ['OK']); };

  $('paletteClose').addEventListener('click', function () { GISBridge.send('paletteClose'); });
  $('cloudPaletteClose').addEventListener('click', function () { GISBridge.send('paletteClose', { palette: 'cloud' }); });
  $('btnShowCloud').addEventListener('click', function () {
    $('cloudOffer').hidden = true;
    GISBridge.send('showCloud');
  });
  $('btnUndo').addEventListener('click', function () { GISBridge.send('undo'); });
  $('btnExportDxf').addEventListener('click', function () { GISBridge.send('export', { format: 'DXF' }); });
  $('btnExportGltf').addEventListener('click', function () { GISBridge.send('export', { format: 'glTF' }); });
  window.addEventListener('message', function (ev) {
    if (ev.origin !== location.origin || !ev.data) return;
    // A palette page was opened in another tab: this window no longer shows it.
    if (ev.data.veldraPaletteReplaced) GISBridge.send('paletteClose', { palette: ev.data.veldraPaletteReplaced });
    // A cloud was downloaded: offer to show it.
    if (ev.data.veldraCloudReady) $('cloudOffer').hidden = false;
  });

  GISBridge.start();
  GISBridge.send('hostState');
  setInterval(function () { GISBridge.send('hostState'); }, 1000);
})();
