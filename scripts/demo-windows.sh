#!/usr/bin/env bash
# The updater's main job on the local demo, with the Windows program under Wine: the deployable
# folder build-win/dist/ is copied into an application folder next to a Windows sample
# application "acme.exe" at version 1.0, which starts the updater with its version; the updater
# stops it, downloads the signed version 2.0 from nginx on the Linux side, installs it and starts
# "acme.exe Upd=1". The window is the real Windows one, drawn by Wine on Xvfb: the script saves a
# screenshot of it at work in build-win/demo/updater-window.png and prints the versions before and
# after. Wine gets no search path for DLLs or plugins: the folder has to stand alone.
set -euo pipefail
# shellcheck source=scripts/windows-build.sh
source "$(dirname "$0")/windows-build.sh"

DEMO=$root/$BUILD/demo
PIDS=()
wineserver_pid=""
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  stop_wine
}
trap cleanup EXIT
# shellcheck source=scripts/demo-setup.sh
source scripts/demo-setup.sh
# The publisher works on this Linux machine: its zlt-publish signs with the Linux minisign, which
# a Windows program under Wine could start but not wait for.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "${ZLT_JOBS:-2}" --target zlt-publish
demo_prepare "$DEMO" acme.exe "$BUILD/bin/zlt_sample_app.exe" 256k "$root/build/bin/zlt-publish"
PIDS+=("$NGINX_PID")
# The updater's whole folder beside the installed application.
cp -r "$BUILD/dist/." "$DEMO/app/"

start_xvfb "$DEMO/xvfb"
PIDS+=("$XVFB_PID")

# A fresh Wine prefix of the demo's own, with its own server; no search path for DLLs or plugins.
unset WINEPATH WINEQT_PLUGIN_PATH WINEQT_QPA_PLATFORM
start_wine "$DEMO/wine"

echo "Installed: acme $(cat "$DEMO/app/version.txt"); update server http://127.0.0.1:$PORT/acme/Produccion/acme.zip"
# Wine's background processes keep the caller's output open: they write to files.
(cd "$DEMO/app" && wine acme.exe --run-updater >"$DEMO/acme.out" 2>&1 &)
# The window shows at the start; the download begins about two seconds later (Updates/ appears)
# and takes a few seconds at 256 KB/s.
for _ in $(seq 300); do [ -d "$DEMO/app/Updates" ] && break; sleep 0.1; done
sleep 1
import -window root "$DEMO/updater-window.png" 2>/dev/null && echo "Screenshot of the updater at work: $DEMO/updater-window.png"

for _ in $(seq 600); do grep -q 'args=Upd=1' "$DEMO/app/sample_app.log" 2>/dev/null && break; sleep 0.1; done
echo "What the application wrote about its starts (app/sample_app.log):"
sed 's/^/  /' "$DEMO/app/sample_app.log"
echo "The updater's record of the run (app/updater.log):"
sed 's/^/  /' "$DEMO/app/updater.log"
if grep -q 'version=2.0 args=Upd=1' "$DEMO/app/sample_app.log"; then
  echo "Updated: acme 1.0 -> $(tr -d '\r' < "$DEMO/app/version.txt"), restarted with Upd=1; data/precios.db installed: $(test -f "$DEMO/app/data/precios.db" && echo yes || echo no)"
else
  echo "The update did not complete." >&2
  exit 1
fi
