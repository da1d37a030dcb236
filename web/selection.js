/* Host window selection: whole layers and listed element identifiers. The
   duplicate remover (menu item 3) works on it; with nothing selected it takes
   the active floor. */
(function () {
  'use strict';
  var pane = document.createElement('section');
  pane.id = 'selectionPane';
  pane.innerHTML =
    '<h2>Zaznaczenie</h2>' +
    '<div id="selLayers"></div>' +
    '<label for="selElements">Identyfikatory elementow</label>' +
    '<textarea id="selElements" rows="2" placeholder="E0000001, E0000002"></textarea>' +
    '<div class="row">' +
    '<button id="btnSelect" type="button">Zaznacz</button>' +
    '<button id="btnDeselect" type="button">Odznacz</button>' +
    '</div>' +
    '<p id="selCount"></p>';
  var anchor = document.getElementById('projectPane');
  anchor.parentNode.insertBefore(pane, anchor.nextSibling);

  var shownLayers = '';
  function renderLayers(layers) {
    var signature = JSON.stringify(layers.map(function (l) { return [l.index, l.name]; }));
    if (signature === shownLayers) return;   // keeps the user's ticks between updates
    shownLayers = signature;
    var box = document.getElementById('selLayers');
    box.innerHTML = '';
    layers.forEach(function (l) {
      var label = document.createElement('label');
      var cb = document.createElement('input');
      cb.type = 'checkbox';
      cb.value = String(l.index);
      cb.setAttribute('data-layer', l.name);
      label.appendChild(cb);
      label.appendChild(document.createTextNode(' ' + l.name));
      box.appendChild(label);
    });
  }

  function send(layers, elements) {
    window.GISBridge.send('select', { layers: layers, elements: elements });
  }
  document.getElementById('btnSelect').addEventListener('click', function () {
    var layers = [];
    document.querySelectorAll('#selLayers input:checked').forEach(function (cb) { layers.push(Number(cb.value)); });
    send(layers, document.getElementById('selElements').value);
  });
  document.getElementById('btnDeselect').addEventListener('click', function () {
    document.querySelectorAll('#selLayers input:checked').forEach(function (cb) { cb.checked = false; });
    document.getElementById('selElements').value = '';
    send([], '');
  });

  window.VeldraSelection = {
    render: function (s) {
      renderLayers(s.layers || []);
      document.getElementById('selCount').textContent = 'Zaznaczone elementy: ' + (s.selection || 0);
    }
  };
})();
