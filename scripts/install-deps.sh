#!/usr/bin/env bash
# Installs every Debian 12 package that the build, the tests, the benchmarks and the demo need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
PACKAGES=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev googletest
  qt6-base-dev libgl-dev qt6-image-formats-plugins
  libcurl4-openssl-dev libssl-dev libarchive-dev libsodium-dev minisign
  nginx-light php-cli tinyproxy socat openssl ca-certificates
  zip unzip p7zip-full libarchive-tools python3
  xvfb xauth x11-apps x11-utils imagemagick fonts-wine fonts-dejavu-core
  hyperfine jq time curl procps util-linux linux-perf valgrind
)
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends "${PACKAGES[@]}"
# The packaged servers start themselves on install; the tests run their own copies on free ports.
for svc in nginx tinyproxy; do
  $SUDO service "$svc" stop >/dev/null 2>&1 || true
done
