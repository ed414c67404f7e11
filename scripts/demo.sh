#!/usr/bin/env bash
# The updater's main job on a local demo: a sample application "acme" at version 1.0 starts
# the updater with its version; the updater stops it, downloads version 2.0 from a local nginx,
# installs it over the application's folder and starts it again with "Upd=1".
# Everything lives in build/demo; the update server listens on a free loopback port.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
if [ "${ZLT_SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target updater zlt_sample_app zlt-publish

DEMO=$ROOT/build/demo
PIDS=()
cleanup() { for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
# shellcheck source=scripts/demo-setup.sh
source scripts/demo-setup.sh
demo_prepare "$DEMO" acme build/bin/zlt_sample_app 2m "$ROOT/build/bin/zlt-publish"
PIDS+=("$NGINX_PID")
# The updater beside the installed application.
cp build/bin/updater "$DEMO/app/updater"

if [ -z "${DISPLAY:-}" ]; then
  start_xvfb "$DEMO/xvfb"
  PIDS+=("$XVFB_PID")
fi
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$DEMO/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"

echo "Installed: acme $(cat "$DEMO/app/version.txt"); update server http://127.0.0.1:$PORT/acme/Produccion/acme.zip"
(cd "$DEMO/app" && setsid -f ./acme --run-updater >/dev/null 2>&1)
sleep 1.6
import -window root "$DEMO/updater-window.png" 2>/dev/null && echo "Screenshot of the updater at work: $DEMO/updater-window.png"

for _ in $(seq 300); do grep -q 'args=Upd=1' "$DEMO/app/sample_app.log" 2>/dev/null && break; sleep 0.1; done
echo "What the application wrote about its starts (app/sample_app.log):"
sed 's/^/  /' "$DEMO/app/sample_app.log"
if grep -q 'version=2.0 args=Upd=1' "$DEMO/app/sample_app.log"; then
  echo "Updated: acme 1.0 -> $(cat "$DEMO/app/version.txt"), restarted with Upd=1; data/precios.db installed: $(test -f "$DEMO/app/data/precios.db" && echo yes || echo no)"
  grep -o 'Signature of .* verified: key [0-9A-F]*' "$DEMO/app/updater.log" | sed 's/^/  /' || true
else
  echo "The update did not complete." >&2
  exit 1
fi
