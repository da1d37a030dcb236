/* Page side of the bridge, shared by the host window and every palette page.
   send() queues a message until the native object window.GIS exists (it may
   appear after the page has started) and flushes the queue in order; receive()
   is what the native side calls with each message. Messages that come before
   the page's own script has registered its handlers and called start() wait
   in the inbox, so an early alert or state is not lost. */
(function () {
  'use strict';
  var GISBridge = window.GISBridge = {
    _queue: [],
    _timer: null,
    handlers: {},
    send: function (type, payload) {
      var msg = payload || {};
      msg.type = type;
      GISBridge._queue.push(msg);
      GISBridge._flush();
    },
    _flush: function () {
      var sent = false;
      while (GISBridge._queue.length && window.GIS && typeof window.GIS.postMessage === 'function') {
        window.GIS.postMessage(JSON.stringify(GISBridge._queue.shift()));
        sent = true;
      }
      if (sent && GISBridge._timer) {
        clearInterval(GISBridge._timer);
        GISBridge._timer = null;
      }
      if (GISBridge._queue.length && !GISBridge._timer) GISBridge._timer = setInterval(GISBridge._flush, 100);
    },
    _inbox: [],
    _started: false,
    receive: function (msg) {
      if (!GISBridge._started) {
        if (GISBridge._inbox.length >= 1000) GISBridge._inbox.shift();
        GISBridge._inbox.push(msg);
        return;
      }
      var h = msg && GISBridge.handlers[msg.type];
      if (h) h(msg);
      else console.warn('Nieznana wiadomosc z C++:', msg);
    },
    // Called by the page once its handlers are registered.
    start: function () {
      GISBridge._started = true;
      while (GISBridge._inbox.length) GISBridge.receive(GISBridge._inbox.shift());
    }
  };
})();
