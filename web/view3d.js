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

Views.subscribe((change) => {
  if (change.model) load(change.model);
  else if (!change.plan) applyVisibility();
});

window.VeldraView3D = {
  stats,
  fit: () => { if (model) frame(model); requestRender(); },
  meshNames: () => { const out = []; if (model) model.traverse((o) => { if (o.isMesh) out.push(o.name); }); return out; },
  sceneObjectCount: () => { let n = 0; if (model) model.traverseVisible((o) => { if (o.isMesh) n++; }); return n; }
};
requestRender();
