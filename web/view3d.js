/* 3D view of the host window: the GLB that "Eksport glTF" writes, loaded into
   a three.js scene with orbit, pan and zoom. Nodes carry their layer in
   extras (userData), so the layer ticks of the plan hide them here too. The
   scene is drawn on demand (after a change), not in a loop. */
import * as THREE from 'three';
import { GLTFLoader } from './three/examples/jsm/loaders/GLTFLoader.js';
import { OrbitControls } from './three/examples/jsm/controls/OrbitControls.js';

const Views = window.VeldraViews;   // host.js
const box = document.getElementById('view3d');
const note = document.getElementById('view3dNote');

const stats = { meshes: 0, visibleMeshes: 0, loadMs: null, revision: null, error: null };
let renderer = null;
try {
  renderer = new THREE.WebGLRenderer({ antialias: true, preserveDrawingBuffer: true });
} catch (e) {
  stats.error = String(e && e.message || e);
}

const scene = new THREE.Scene();
scene.background = new THREE.Color(0xdde6ee);
scene.add(new THREE.HemisphereLight(0xffffff, 0x707070, 1.6));
const sun = new THREE.DirectionalLight(0xffffff, 1.8);
sun.position.set(0.5, 1, 0.3);
scene.add(sun);
const camera = new THREE.PerspectiveCamera(45, 1, 0.5, 1e6);
camera.position.set(100, 100, 100);
let model = null;
let controls = null;

function size() {
  const w = Math.max(1, box.clientWidth), h = Math.max(1, box.clientHeight);
  if (!renderer) return;
  const c = renderer.domElement;
  if (c.width !== Math.round(w * renderer.getPixelRatio()) || c.height !== Math.round(h * renderer.getPixelRatio())) {
    renderer.setSize(w, h, false);
    camera.aspect = w / h;
    camera.updateProjectionMatrix();
  }
}

let pending = false;
function render() {
  pending = false;
  if (!renderer) return;
  size();
  renderer.render(scene, camera);
}
function requestRender() {
  if (pending) return;
  pending = true;
  requestAnimationFrame(render);
}

if (renderer) {
  renderer.setPixelRatio(window.devicePixelRatio || 1);
  renderer.domElement.style.width = '100%';
  renderer.domElement.style.height = '100%';
  box.appendChild(renderer.domElement);
  controls = new OrbitControls(camera, renderer.domElement);
  controls.screenSpacePanning = true;
  controls.addEventListener('change', requestRender);
  window.addEventListener('resize', requestRender);
} else {
  note.textContent = 'Widok 3D niedostepny: przegladarka nie udostepnia WebGL.';
}

function applyVisibility() {
  if (!model) return;
  let visible = 0;
  model.traverse((o) => {
    if (o.userData && o.userData.layer !== undefined) o.visible = !Views.hidden.has(o.userData.layer);
  });
  model.traverseVisible((o) => { if (o.isMesh) visible++; });
  stats.visibleMeshes = visible;
  requestRender();
}

function frame(object) {
  const b = new THREE.Box3().setFromObject(object);
  if (b.isEmpty()) return false;
  const c = b.getCenter(new THREE.Vector3()), r = Math.max(b.getSize(new THREE.Vector3()).length() / 2, 1);
  controls.target.copy(c);
  camera.near = r / 1000;
  camera.far = r * 100;
  camera.position.set(c.x + r * 0.9, c.y + r * 1.1, c.z + r * 1.3);
  camera.updateProjectionMatrix();
  controls.update();
  return true;
}

function dispose(object) {
  object.traverse((o) => {
    if (o.geometry) o.geometry.dispose();
    if (o.material) [].concat(o.material).forEach((m) => m.dispose());
  });
}

let loading = 0;
let framed = false;
function load(file) {
  if (!renderer) return;
  const mine = ++loading;
  const t0 = performance.now();
  new GLTFLoader().load(file.name + '?r=' + file.revision, (gltf) => {
    if (mine !== loading) { dispose(gltf.scene); return; }
    if (model) { scene.remove(model); dispose(model); }
    model = gltf.scene;
    scene.add(model);
    let meshes = 0;
    model.traverse((o) => {
      if (o.isMesh) {
        meshes++;
        // Terrain and roofs are seen from below as often as from above.
        [].concat(o.material).forEach((m) => { m.side = THREE.DoubleSide; });
      }
    });
    stats.meshes = meshes;
    stats.revision = file.revision;
    stats.loadMs = performance.now() - t0;
    note.textContent = meshes ? '' : 'Projekt nie ma elementow 3D.';
    if (!framed) framed = frame(model);
    applyVisibility();
  }, undefined, (e) => {
    stats.error = String(e && e.message || e);
    note.textContent = 'Widok 3D: nie udalo sie wczytac modelu (' + stats.error + ')';
  });
}

// ---- the point cloud the cloud palette wrote (file "cloud" of the views) ----
const cloudToggle = document.getElementById('cloudToggle');
const cloudCount = document.getElementById('cloudCount');
let cloud = null;
let cloudLoading = 0;
stats.cloudPoints = 0;
stats.cloudRevision = null;

// Lowest blue, then green and yellow, highest red: a cloud without colours still shows its shape.
function heightColours(pos, n) {
  let lo = Infinity, hi = -Infinity;
  for (let i = 0; i < n; i++) { const y = pos[3 * i + 1]; if (y < lo) lo = y; if (y > hi) hi = y; }
  const span = hi > lo ? hi - lo : 1, out = new Uint8Array(3 * n), c = new THREE.Color();
  for (let i = 0; i < n; i++) {
    c.setHSL(0.66 * (1 - (pos[3 * i + 1] - lo) / span), 0.85, 0.5);
    out[3 * i] = c.r * 255; out[3 * i + 1] = c.g * 255; out[3 * i + 2] = c.b * 255;
  }
  return out;
}

// The view file: "VCLD", version, count, flags (1: colours), origin as three doubles (y-up),
// then float32 positions and, when flagged, colour bytes. A short or foreign file is refused.
function parseCloud(buf) {
  const dv = new DataView(buf);
  if (buf.byteLength < 40 || dv.getUint32(0, true) !== 0x444c4356 || dv.getUint32(4, true) !== 1) return null;
  const n = dv.getUint32(8, true), colours = (dv.getUint32(12, true) & 1) === 1;
  if (buf.byteLength !== 40 + 12 * n + (colours ? 3 * n : 0)) return null;
  const origin = [0, 1, 2].map((i) => dv.getFloat64(16 + 8 * i, true));
  const pos = new Float32Array(buf, 40, 3 * n);
  // Scanners without a camera write colour fields of zeros: such a cloud is coloured by height too.
  const stored = colours ? new Uint8Array(buf, 40 + 12 * n, 3 * n) : null;
  const rgb = stored && stored.some((v) => v !== 0) ? stored : heightColours(pos, n);
  return { n, origin, pos, rgb };
}

function showCloudCount() {
  cloudCount.textContent = cloud ? '(' + stats.cloudPoints.toLocaleString('pl-PL') + ' pkt)' : '';
}

function setCloud(points) {
  if (cloud) { scene.remove(cloud); dispose(cloud); }
  cloud = points;
  if (cloud) scene.add(cloud);
  stats.cloudPoints = cloud ? cloud.geometry.getAttribute('position').count : 0;
  showCloudCount();
}

function loadCloud(file) {
  if (!renderer) return;
  const mine = ++cloudLoading;
  note.textContent = 'Wczytywanie chmury punktow...';
  fetch(file.name + '?r=' + file.revision).then((r) => {
    if (!r.ok) throw new Error('HTTP ' + r.status);
    return r.arrayBuffer();
  }).then((buf) => {
    if (mine !== cloudLoading) return;
    const c = parseCloud(buf);
    if (!c) throw new Error('plik chmury jest uszkodzony');
    const g = new THREE.BufferGeometry();
    g.setAttribute('position', new THREE.BufferAttribute(c.pos, 3));
    g.setAttribute('color', new THREE.BufferAttribute(c.rgb, 3, true));
    g.computeBoundingSphere();
    // About the spacing of the thinned points, so the cloud reads as a surface from afar.
    const r = g.boundingSphere ? g.boundingSphere.radius : 1;
    const size = Math.min(5, Math.max(0.05, 1.5 * Math.sqrt(Math.PI * r * r / Math.max(1, c.n))));
    const points = new THREE.Points(g, new THREE.PointsMaterial({ size, sizeAttenuation: true, vertexColors: true }));
    points.position.set(c.origin[0], c.origin[1], c.origin[2]);
    points.name = 'cloud';
    setCloud(points);
    stats.cloudRevision = file.revision;
    cloud.visible = cloudToggle.checked = true;
    note.textContent = '';
    if (!framed) framed = frame(cloud);
    requestRender();
  }).catch((e) => {
    if (mine !== cloudLoading) return;
    note.textContent = 'Widok 3D: nie udalo sie wczytac chmury punktow (' + String(e && e.message || e) + ')';
  });
}

// The tick asks for the cloud the first time; afterwards it only shows or hides it.
cloudToggle.addEventListener('change', () => {
  if (cloudToggle.checked && !cloud) { window.GISBridge.send('showCloud'); return; }
  if (cloud) cloud.visible = cloudToggle.checked;
  requestRender();
});

Views.subscribe((change) => {
  if (change.model) load(change.model);
  else if (change.cloud) loadCloud(change.cloud);
  else if (change.cloudError) { if (!cloud) cloudToggle.checked = false; }
  else if (!change.plan) applyVisibility();
});

window.VeldraView3D = {
  stats,
  fit: () => { if (model) frame(model); else if (cloud) frame(cloud); requestRender(); },
  meshNames: () => { const out = []; if (model) model.traverse((o) => { if (o.isMesh) out.push(o.name); }); return out; },
  // Points of the cloud drawn now (0 when hidden or none).
  cloudPointCount: () => (cloud && cloud.visible ? stats.cloudPoints : 0),
  sceneObjectCount: () => { let n = 0; if (model) model.traverseVisible((o) => { if (o.isMesh) n++; }); return n; }
};
requestRender();
