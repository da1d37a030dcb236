// Reads an E57 file with the web-e57 reader and compares it with the points that went in.
// usage: node e57_readback.mjs FILE.e57 EXPECTED.txt
// EXPECTED.txt: one point per line, "x y z red green blue" with x, y, z as written (doubles).
// Every coordinate must come back as the single-precision value of its input, colours exactly,
// and the scan's recordCount and cartesianBounds must agree with the points.
import fs from 'fs';
import path from 'path';
import { fileURLToPath } from 'url';

const here = path.dirname(fileURLToPath(import.meta.url));
const pkg = path.join(here, 'node_modules', 'web-e57');

// The package imports its .wasm as an ES module, which Node 20 does not do without a flag;
// instantiate it by hand instead.
const bg = await import(path.join(pkg, 'e57_bg.js'));
const { instance } = await WebAssembly.instantiate(fs.readFileSync(path.join(pkg, 'e57_bg.wasm')), { './e57_bg.js': bg });
bg.__wbg_set_wasm(instance.exports);

function fail(msg) {
  console.error('FAIL ' + msg);
  process.exit(1);
}

const [file, expectedFile] = process.argv.slice(2);
if (!file || !expectedFile) fail('usage: node e57_readback.mjs FILE.e57 EXPECTED.txt');
const data = new Uint8Array(fs.readFileSync(file));
let xyz, xml;
try {
  xyz = bg.convertE57(data, 'XYZ');
  xml = bg.convertE57(data, 'XML');
} catch (e) {
  fail('reader refused the file: ' + e);
}

const expected = fs.readFileSync(expectedFile, 'utf8').split('\n').filter((l) => l.trim() !== '').map((l) => l.trim().split(/\s+/).map(Number));
const got = xyz.split('\n').filter((l) => l.trim() !== '').map((l) => l.trim().split(/\s+/).map(Number));
if (got.length !== expected.length) fail(`point count ${got.length}, expected ${expected.length}`);

const lo = [Infinity, Infinity, Infinity], hi = [-Infinity, -Infinity, -Infinity];
for (let i = 0; i < expected.length; ++i) {
  const e = expected[i], g = got[i];
  if (g.length !== 6) fail(`line ${i}: ${g.length} columns`);
  for (let a = 0; a < 3; ++a) {
    const want = Math.fround(e[a]);
    if (g[a] !== want) fail(`point ${i} axis ${a}: ${g[a]} but float32 of ${e[a]} is ${want}`);
    lo[a] = Math.min(lo[a], want);
    hi[a] = Math.max(hi[a], want);
  }
  for (let c = 3; c < 6; ++c) if (g[c] !== e[c]) fail(`point ${i} colour ${c - 3}: ${g[c]} expected ${e[c]}`);
}

function xmlNumber(name) {
  const m = xml.match(new RegExp(`<${name}[^>]*>([^<]*)</${name}>`));
  return m ? Number(m[1]) : NaN;
}
const rc = xml.match(/recordCount="(\d+)"/);
if (!rc || Number(rc[1]) !== expected.length) fail(`recordCount ${rc && rc[1]}, expected ${expected.length}`);
const axes = ['x', 'y', 'z'];
for (let a = 0; a < 3; ++a) {
  const mn = xmlNumber(axes[a] + 'Minimum'), mx = xmlNumber(axes[a] + 'Maximum');
  if (mn !== lo[a] || mx !== hi[a]) fail(`cartesianBounds ${axes[a]} ${mn}..${mx}, points span ${lo[a]}..${hi[a]}`);
}
console.log(`OK ${expected.length} points`);
