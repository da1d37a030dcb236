#!/bin/sh
# Reading the synthetic 50 MB WFS 2.0 answer of bench_gml into GeoJSON: veldra against GDAL's ogr2ogr,
# timed in one run on the same file. Usage: bench/gml_vs_ogr2ogr.sh BUILD_DIR   (needs VELDRA_BENCH=ON)
set -eu
BUILD=${1:?usage: $0 BUILD_DIR}
TMP=$(mktemp -d)
trap 'rm -rf "$TMP"' EXIT
"$BUILD/bench/bench_gml" --write-sample="$TMP/answer.xml"
SIZE=$(stat -c %s "$TMP/answer.xml")
run() {  # label, command...: prints wall seconds and peak RSS in kB
  label=$1; shift
  /usr/bin/time -f "%e %M %U %S" -o "$TMP/time.$label" "$@" > /dev/null 2> "$TMP/err.$label" || { cat "$TMP/err.$label" >&2; exit 1; }
  cat "$TMP/time.$label"
}
set -- $(run veldra "$BUILD/src/veldra" gml2geojson "$TMP/answer.xml")
OURS_S=$1; OURS_KB=$2; OURS_CPU=$(echo "$3 $4" | awk '{print $1 + $2}')
set -- $(run ogr ogr2ogr -oo DOWNLOAD_SCHEMA=NO -oo WRITE_GFS=NO -f GeoJSON "$TMP/ogr.geojson" "$TMP/answer.xml")
OGR_S=$1; OGR_KB=$2; OGR_CPU=$(echo "$3 $4" | awk '{print $1 + $2}')
# The same work as ours (our preview is WGS84): ogr2ogr reprojecting to EPSG:4326.
set -- $(run ogr84 ogr2ogr -oo DOWNLOAD_SCHEMA=NO -oo WRITE_GFS=NO -t_srs EPSG:4326 -f GeoJSON "$TMP/ogr84.geojson" "$TMP/answer.xml")
OGR84_S=$1; OGR84_CPU=$(echo "$3 $4" | awk '{print $1 + $2}')
awk -v s="$SIZE" -v a="$OURS_S" -v am="$OURS_KB" -v b="$OGR_S" -v bm="$OGR_KB" -v ac="$OURS_CPU" -v bc="$OGR_CPU" -v c="$OGR84_S" -v cc="$OGR84_CPU" 'BEGIN {
  printf "file %.1f MB\n", s / 1e6
  printf "veldra gml2geojson: %6.2f s wall %6.2f s cpu  %6.1f MB/s  peak RSS %6.1f MB (%.2fx file)\n", a, ac, s / 1e6 / a, am / 1e3, am * 1e3 / s
  printf "ogr2ogr -f GeoJSON: %6.2f s wall %6.2f s cpu  %6.1f MB/s  peak RSS %6.1f MB (%.2fx file)\n", b, bc, s / 1e6 / b, bm / 1e3, bm * 1e3 / s
  printf "speed ratio (ogr2ogr / veldra): %.1fx wall, %.1fx cpu\n", b / a, bc / ac
  printf "ogr2ogr -t_srs EPSG:4326 (same output system as ours): %.2f s wall %.2f s cpu, ratio %.1fx wall, %.1fx cpu\n", c, cc, c / a, cc / ac
}'
