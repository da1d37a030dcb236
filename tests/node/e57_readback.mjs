// node e57_readback.mjs FILE.e57: what the web-e57 reader makes of an E57 file, printed as one
// JSON object {"xyz": its XYZ text (x y z red green blue per point), "xml": its XML section}.
import fs from 'fs';
import path from 'path';
import { fileURLToPath } from 'url';

const pkg = path.join(path.dirname(fileURLToPath(import.meta.url)), 'node_modules', 'web-e57');
// The package imports its .wasm as an ES module, which Node 20 does not do without a flag;
// instantiate it by hand instead.
const bg = await import(path.join(pkg, 'e57_bg.js'));
const { instance } = await WebAssembly.instantiate(fs.readFileSync(path.join(pkg, 'e57_bg.wasm')), { './e57_bg.js': bg });
bg.__wbg_set_wasm(instance.exports);
const data = new Uint8Array(fs.readFileSync(process.argv[2]));
console.log(JSON.stringify({ xyz: bg.convertE57(data, 'XYZ'), xml: bg.convertE57(data, 'XML') }));
