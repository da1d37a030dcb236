// node manifold_check.mjs FILE.glb: every mesh of a GLB given to manifold-3d,
// which refuses open or inconsistently oriented meshes. One JSON line per mesh:
// {"name", "ok", "volume"} or {"name", "ok": false, "error"}.
import fs from 'node:fs';
import Module from 'manifold-3d';

const glb = fs.readFileSync(process.argv[2]);
const jlen = glb.readUInt32LE(12);
const gltf = JSON.parse(glb.subarray(20, 20 + jlen).toString('utf8'));
const bin = 20 + jlen + 8;
const wasm = await Module();
wasm.setup();
const view = (i) => {
  const a = gltf.accessors[i];
  const v = gltf.bufferViews[a.bufferView];
  return { offset: bin + (v.byteOffset || 0), count: a.count };
};
for (const m of gltf.meshes || []) {
  const p = m.primitives[0];
  const pos = view(p.attributes.POSITION);
  const idx = view(p.indices);
  // Weld equal positions: the reader wants shared vertices.
  const key = new Map();
  const verts = [];
  const remap = new Uint32Array(pos.count);
  for (let i = 0; i < pos.count; i++) {
    const x = glb.readFloatLE(pos.offset + i * 12), y = glb.readFloatLE(pos.offset + i * 12 + 4), z = glb.readFloatLE(pos.offset + i * 12 + 8);
    const k = `${x},${y},${z}`;
    if (!key.has(k)) { key.set(k, verts.length / 3); verts.push(x, y, z); }
    remap[i] = key.get(k);
  }
  const tris = [];
  for (let t = 0; t < idx.count; t += 3) {
    const a = remap[glb.readUInt32LE(idx.offset + t * 4)], b = remap[glb.readUInt32LE(idx.offset + t * 4 + 4)], c = remap[glb.readUInt32LE(idx.offset + t * 4 + 8)];
    if (a !== b && b !== c && a !== c) tris.push(a, b, c);
  }
  try {
    const mesh = new wasm.Mesh({ numProp: 3, vertProperties: new Float32Array(verts), triVerts: new Uint32Array(tris) });
    const solid = new wasm.Manifold(mesh);
    console.log(JSON.stringify({ name: m.name, ok: true, volume: solid.volume() }));
    solid.delete();
  } catch (e) {
    console.log(JSON.stringify({ name: m.name, ok: false, error: String(e.message || e) }));
  }
}
