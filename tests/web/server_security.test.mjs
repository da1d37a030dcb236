// The palette server against requests a foreign page or program could make.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { startUi, rawRequest, statusOf, RawSocket, sleep } from './harness.mjs';

let srv;
before(async () => { srv = await startUi(); });
after(async () => { await srv.stop(); });

function get(target, headers = {}) {
  const h = { Host: `127.0.0.1:${srv.port}`, Connection: 'close', ...headers };
  const lines = Object.entries(h).filter(([, v]) => v !== null).map(([k, v]) => `${k}: ${v}`);
  return rawRequest(srv.port, `GET ${target} HTTP/1.1\r\n${lines.join('\r\n')}\r\n\r\n`);
}

test('pages need the token, the own Host and the own Origin', async () => {
  const ok = await get(`/${srv.token}/map/map.html`);
  assert.equal(statusOf(ok), 200);
  assert.match(ok, /Referrer-Policy: no-referrer/i);
  assert.match(ok, /<head><script>/, 'transport script is placed at the top of the page');
  assert.equal(statusOf(await get('/map/map.html')), 403);
  assert.equal(statusOf(await get(`/${'0'.repeat(32)}/map/map.html`)), 403);
  assert.equal(statusOf(await get(`/${srv.token.slice(0, 31)}/map/map.html`)), 403);
  assert.equal(statusOf(await get(`/${srv.token}/map/map.html`, { Origin: 'http://evil.example' })), 403);
  assert.equal(statusOf(await get(`/${srv.token}/map/map.html`, { Host: 'evil.example' })), 403);
  assert.equal(statusOf(await get(`/${srv.token}/map/map.html`, { Host: null })), 403);
});

test('nothing outside the web folder is served, in any spelling', async () => {
  const t = srv.token;
  for (const target of [
    `/${t}/map/../../../../etc/passwd`, `/${t}/map/%2e%2e/%2e%2e/%2e%2e/etc/passwd`,
    `/${t}/map/%2E%2E%2F%2E%2E%2Fetc%2Fpasswd`, `/${t}/map/..%2f..%2f..%2fetc%2fpasswd`,
    `/${t}/map//etc/passwd`, `/${t}/map/%2fetc%2fpasswd`, `/${t}/map/..\\..\\etc\\passwd`,
    `/${t}/map/%5c..%5c..%5cetc%5cpasswd`, `/${t}/map/./map.html`, `/${t}/map/map.html%00.png`,
    `/${t}/map/`, `/${t}/map`, `/${t}/nomount/map.html`, `/${t}/map/%zz`, `/${t}/../${t}/map/map.html`,
  ]) {
    const res = await get(target);
    const code = statusOf(res);
    assert.ok([400, 403, 404].includes(code), `${target} -> ${code}`);
    assert.doesNotMatch(res, /root:/);
  }
  assert.equal(statusOf(await get(`/${t}/map/map.js?v=1`)), 200);
  const post = await rawRequest(srv.port,
    `POST /${t}/map/map.html HTTP/1.1\r\nHost: 127.0.0.1:${srv.port}\r\nContent-Length: 0\r\nConnection: close\r\n\r\n`);
  assert.equal(statusOf(post), 405);
});

test('a WebSocket from a foreign origin or without the token never reaches the bridge', async () => {
  const evil = await RawSocket.open(srv, 'map', 'http://evil.example');
  assert.equal(evil.status, 403);
  evil.sendText(JSON.stringify({ type: 'openExternal', url: 'https://evil.example/' }));
  const noToken = await RawSocket.open({ ...srv, token: 'x'.repeat(32) }, 'map');
  assert.equal(noToken.status, 403);
  noToken.sendText(JSON.stringify({ type: 'openExternal', url: 'https://evil.example/' }));
  await sleep(300);
  assert.equal(srv.opened(), '');
  evil.close();
  noToken.close();
});

test('oversize and invalid UTF-8 texts are answered as malformed; the connection lives on', async () => {
  const ws = await RawSocket.open(srv, 'map');
  assert.equal(ws.status, 101);
  const malformed = (m) => m.type === 'error' && m.msg === 'Nieprawidlowa wiadomosc z UI (JSON)';

  ws.sendFrame(1, Buffer.from([0x7b, 0x22, 0xc3, 0x28, 0x22, 0x7d]));   // {"\xc3(\"}
  assert.ok(await ws.waitFor(malformed), 'invalid UTF-8 answered');
  ws.messages.length = 0;

  ws.sendFrame(1, Buffer.from('{"type":"ping","pad":"\ud800"}'.replace('\ud800', ''), 'utf8'));
  ws.sendFrame(1, Buffer.from([0xed, 0xa0, 0x80]));                       // encoded surrogate
  ws.sendFrame(1, Buffer.from([0xc0, 0xaf]));                             // overlong '/'
  assert.ok(await ws.waitFor((m) => m.type === 'pong'));
  await sleep(200);
  assert.equal(ws.messages.filter(malformed).length, 2);
  ws.messages.length = 0;

  // 3 MiB announced and sent in fragments: discarded as it arrives.
  const chunk = Buffer.alloc(1 << 20, 0x61);
  ws.sendFrame(1, chunk, { fin: false });
  ws.sendFrame(0, chunk, { fin: false });
  ws.sendFrame(0, chunk, { fin: true });
  assert.ok(await ws.waitFor(malformed, 10000), 'oversize answered');
  ws.sendFrame(9, Buffer.from('hi'));                                     // ping frame
  ws.sendText(JSON.stringify({ type: 'ping' }));
  assert.ok(await ws.waitFor((m) => m.type === 'pong'), 'still connected after oversize');
  assert.equal(ws.closed, false);
  ws.close();
});

test('an unmasked frame is a protocol error that closes only that socket', async () => {
  const ws = await RawSocket.open(srv, 'host');
  ws.sock.write(Buffer.from([0x81, 0x02, 0x7b, 0x7d]));
  await ws.waitFor(() => false, 1500);
  assert.equal(ws.closeCode, 1002);
  const again = await RawSocket.open(srv, 'host');
  again.sendText(JSON.stringify({ type: 'hostState' }));
  assert.ok(await again.waitFor((m) => m.type === 'hostState'));
  again.close();
});

test('a client that never finishes its request is dropped by the read time-out', async () => {
  const { default: net } = await import('node:net');
  const sock = net.connect(srv.port, '127.0.0.1');
  await new Promise((r) => sock.once('connect', r));
  const started = Date.now();
  sock.write(`GET /${srv.token}/map/map.html HTTP/1.1\r\nHost: 127.0.0.1:${srv.port}\r\n`);
  const closedAfter = await new Promise((resolve) => {
    sock.on('close', () => resolve(Date.now() - started));
    sock.on('error', () => {});
    setTimeout(() => resolve(-1), 25000);
  });
  sock.destroy();
  assert.ok(closedAfter > 10000 && closedAfter < 20000, `closed after ${closedAfter} ms`);
  // The server still answers others.
  assert.equal(statusOf(await get(`/${srv.token}/map/map.css`)), 200);
});
