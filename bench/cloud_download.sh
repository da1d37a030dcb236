#!/usr/bin/env bash
# The cloud palette's download of a frame of about 8 million points, end to end: the LiDAR index
# and 15 LAZ tiles served from loopback by `veldra mock-services`, decoded, clipped, thinned and
# written as E57 by `veldra cloud` (the palette's own worker). The tiles are copies of a real
# LAZ sample (518,862 points each) whose header offsets are moved so that they lie side by side in
# a PL-1992 frame: the compressed records stay the sample's own. Prints, for each detail level,
# the command's stage times and the wall time and peak memory of the process (GNU time).
#   bash scripts/build.sh release --target veldra && bash bench/cloud_download.sh [sample.laz]
set -euo pipefail
cd "$(dirname "$0")/.."
sample="${1:-../shared/data/lidar/pdal/lone-star.laz}"
bin="${VELDRA_BIN:-build/release/src/veldra}"
work=$(mktemp -d)
trap 'exec 3>&- 2>/dev/null || true; rm -rf "$work"' EXIT

# 15 copies on a 4 x 4 grid of 60 m cells (one cell empty), the index naming each as PL-1992.
bbox=$(python3 - "$sample" "$work" <<'PY'
import json, struct, subprocess, sys
sample, work = sys.argv[1], sys.argv[2]
data = bytearray(open(sample, "rb").read())
mx, mn = struct.unpack_from("<d", data, 179)[0], struct.unpack_from("<d", data, 187)[0]
my, mny = struct.unpack_from("<d", data, 195)[0], struct.unpack_from("<d", data, 203)[0]
ox, oy = struct.unpack_from("<2d", data, 155)
E0, N0 = 500000.0, 500000.0
members, routes = "", []
import os
os.makedirs(f"{work}/fx", exist_ok=True)
for k in range(15):
    dx, dy = E0 + 60 * (k % 4) - mn, N0 + 60 * (k // 4) - mny
    t = bytearray(data)
    struct.pack_into("<2d", t, 155, ox + dx, oy + dy)
    struct.pack_into("<4d", t, 179, mx + dx, mn + dx, my + dy, mny + dy)
    open(f"{work}/fx/t{k}.laz", "wb").write(t)
    members += (f"<wfs:member><gugik:SkorowidzDanychPomiarowychLIDAR2025><gugik:char_przestrz>12</gugik:char_przestrz>"
                f"<gugik:uklad_xy>PL-1992</gugik:uklad_xy><gugik:url_do_pobrania>https://opendata.geoportal.gov.pl/"
                f"lidar/t{k}.laz</gugik:url_do_pobrania></gugik:SkorowidzDanychPomiarowychLIDAR2025></wfs:member>")
    routes.append({"path": f"/opendata/lidar/t{k}.laz", "body_file": f"t{k}.laz"})
open(f"{work}/fx/index.xml", "w").write(f"<wfs:FeatureCollection>{members}</wfs:FeatureCollection>")
routes.insert(0, {"path": "/mapy/wss/service/PZGIK/DanePomiaroweLidarEVRF2007/WFS/Skorowidze", "body_file": "index.xml"})
json.dump({"routes": routes}, open(f"{work}/fx/manifest.json", "w"))
# The frame in degrees: the grid's corners, a metre inside it.
pts = f"{N0 - 1} {E0 - 1}\n{N0 + 241} {E0 + 241}\n"
out = subprocess.run(["cs2cs", "-f", "%.8f", "EPSG:2180", "EPSG:4326"], input=pts, capture_output=True, text=True, check=True).stdout.split()
(s, w), (n, e) = (float(out[0]), float(out[1])), (float(out[3]), float(out[4]))
print(f"{w},{s},{e},{n}")
PY
)
echo "== frame $bbox, $(du -sh "$work/fx" | cut -f1) of tiles, $(nproc) cores, $(uptime)"

exec 3> >(cat >/dev/null)
coproc SERVER { "$bin" mock-services --root "$work/fx" --exit-on-stdin-eof --write-endpoints "$work/endpoints.json"; }
read -r _ port <&"${SERVER[0]}"
echo "== fixture server on 127.0.0.1:$port"
for detail in full standard lekki; do
  echo "-- detail $detail"
  rm -rf "$work/cache" "$work/out.e57"
  VELDRA_ENDPOINTS="$work/endpoints.json" VELDRA_HOST_SPACING_MS=0 XDG_CACHE_HOME="$work/cache" \
    /usr/bin/time -f "wall %e s, peak RSS %M KB, user %U s, sys %S s" \
    "$bin" cloud --bbox "$bbox" --detail "$detail" --out "$work/out.e57" 2>"$work/err" || true
  grep -v '^progress' "$work/err" || true
  ls -l "$work/out.e57" 2>/dev/null | awk '{print "E57 bytes", $5}'
done
eval "exec ${SERVER[1]}>&-"
wait "$SERVER_PID" 2>/dev/null || true
