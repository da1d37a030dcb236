// Native object of the palette's browser control over a WebSocket. The page's
// GISBridge queues its messages until window.GIS exists, so GIS appears only
// once the socket is open and disappears when it closes.
(function () {
  'use strict';
  var parts = location.pathname.split('/');   // "", token, mount, file
  if (parts.length < 4) return;
  var url = (location.protocol === 'https:' ? 'wss://' : 'ws://') + location.host + '/' + parts[1] + '/ws/' + parts[2];
  var delay = 250;
  var replaced = false;

  // Messages that arrive before the page's own scripts have set up GISBridge
  // (the socket may open while a later script is still loading) wait here.
  var early = [];
  function bridgeReady() { return window.GISBridge && typeof window.GISBridge.receive === 'function'; }
  function flushEarly() {
    if (!bridgeReady()) return false;
    while (early.length) window.GISBridge.receive(early.shift());
    return true;
  }
  function deliver(text) {
    var msg;
    try { msg = JSON.parse(text); } catch (e) { return; }
    if (bridgeReady() && !early.length) { window.GISBridge.receive(msg); return; }
    if (early.length >= 1000) early.shift();
    early.push(msg);
    if (early.length === 1) {
      var poll = setInterval(function () { if (flushEarly()) clearInterval(poll); }, 20);
    }
  }

  function connect() {
    var ws = new WebSocket(url);
    ws.onopen = function () {
      delay = 250;
      window.GIS = {
        postMessage: function (text) {
          // The native function reads anything but a string as the empty text.
          ws.send(typeof text === 'string' ? text : '');
          return true;
        }
      };
    };
    ws.onmessage = function (ev) { if (typeof ev.data === 'string') deliver(ev.data); };
    ws.onclose = function (ev) {
      window.GIS = undefined;
      if (ev.code === 4001) {
        // Another tab now shows this palette.
        replaced = true;
        document.documentElement.setAttribute('data-replaced', '1');
        var note = document.createElement('div');
        note.id = 'paletteReplaced';
        note.textContent = 'Paleta zostala otwarta w innej karcie - zamknij te karte.';
        note.style.cssText = 'position:fixed;inset:0;z-index:100000;background:rgba(255,255,255,.94);' +
          'display:flex;align-items:center;justify-content:center;font:16px sans-serif;color:#333';
        (document.body || document.documentElement).appendChild(note);
        if (window.parent !== window) {
          try { window.parent.postMessage({ veldraPaletteReplaced: parts[2] }, location.origin); } catch (e) {}
        }
        try { window.close(); } catch (e) {}
        return;
      }
      if (!replaced) { setTimeout(connect, delay); delay = Math.min(delay * 2, 5000); }
    };
  }
  connect();
})();
