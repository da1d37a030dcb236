#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the verifiers need.
# Idempotent: packages already present are left as they are.
set -euo pipefail

PKGS=(
  build-essential cmake ninja-build pkg-config git ca-certificates
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev libpugixml-dev libcurl4-openssl-dev libssl-dev
  libzip-dev zipcmp zipmerge ziptool libpng-dev libcgal-dev
  libboost-dev libtinygltf-dev
  gdal-bin python3-gdal python3-numpy proj-bin python3-ezdxf python3-pytest assimp-utils
  chromium clang-16 libclang-rt-16-dev nodejs xdg-utils
)

missing=()
for p in "${PKGS[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  echo "installing: ${missing[*]}"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
