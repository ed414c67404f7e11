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
cmake --build build -j "$(nproc)" --target updater zlt_sample_app

DEMO=$ROOT/build/demo
rm -rf "$DEMO"
mkdir -p "$DEMO/app" "$DEMO/www/acme/Produccion" "$DEMO/server" "$DEMO/package/data"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# The installed application, version 1.0, with the updater and its settings beside it.
cp build/bin/updater "$DEMO/app/updater"
cp build/bin/zlt_sample_app "$DEMO/app/acme"
echo "1.0" > "$DEMO/app/version.txt"
# The publisher's key pair: the updater installs only what the secret key signed.
minisign -G -W -p "$DEMO/server/acme.pub" -s "$DEMO/server/acme.key" >/dev/null
printf '[UPDATE]\r\nAPPNAME=Acme Contabilidad\r\nAPPEXE=acme\r\nSERVER1=http://127.0.0.1:%s/\r\nPATHUPD=acme\r\nFILEPHP=checkUpdates.php\r\nFILEZIP=acme.zip\r\nPUBKEY=%s\r\n' \
  "$PORT" "$(tail -n 1 "$DEMO/server/acme.pub")" > "$DEMO/app/updater.cfi"

# Version 2.0 on the server: the program, its version file and a data file in a subfolder.
cp build/bin/zlt_sample_app "$DEMO/package/acme"
echo "2.0" > "$DEMO/package/version.txt"
head -c 300000 /dev/urandom > "$DEMO/package/data/precios.db"
(cd "$DEMO/package" && zip -q -r "$DEMO/www/acme/Produccion/acme.zip" .)
minisign -S -s "$DEMO/server/acme.key" -m "$DEMO/www/acme/Produccion/acme.zip" >/dev/null

cat > "$DEMO/server/nginx.conf" <<CONF
daemon off;
user root;
pid $DEMO/server/nginx.pid;
error_log $DEMO/server/error.log;
events {}
http {
  access_log $DEMO/server/access.log;
  client_body_temp_path $DEMO/server/tmp;
  proxy_temp_path $DEMO/server/tmp;
  fastcgi_temp_path $DEMO/server/tmp;
  uwsgi_temp_path $DEMO/server/tmp;
  scgi_temp_path $DEMO/server/tmp;
  server {
    listen 127.0.0.1:$PORT;
    root $DEMO/www;
    # Slow enough for the window to be seen at work.
    limit_rate 2m;
  }
}
CONF
PIDS=()
cleanup() { for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT
/usr/sbin/nginx -c "$DEMO/server/nginx.conf" -e "$DEMO/server/error.log" &
PIDS+=($!)

if [ -z "${DISPLAY:-}" ]; then
  for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || { DISPLAY_NUMBER=$n; break; }; done
  Xvfb ":$DISPLAY_NUMBER" -screen 0 800x450x24 -nolisten tcp >/dev/null 2>&1 &
  PIDS+=($!)
  export DISPLAY=":$DISPLAY_NUMBER"
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break; sleep 0.1; done
fi
unset QT_QPA_PLATFORM
export XDG_RUNTIME_DIR=$DEMO/runtime
mkdir -m 700 -p "$XDG_RUNTIME_DIR"
for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && break; sleep 0.1; done

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
