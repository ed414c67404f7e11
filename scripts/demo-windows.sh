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
rm -rf "$DEMO"
mkdir -p "$DEMO/app" "$DEMO/www/acme/Produccion" "$DEMO/server" "$DEMO/package/data"
PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

# The installed application, version 1.0, with the updater's folder and its settings beside it.
cp -r "$BUILD/dist/." "$DEMO/app/"
cp "$BUILD/bin/zlt_sample_app.exe" "$DEMO/app/acme.exe"
echo "1.0" > "$DEMO/app/version.txt"
minisign -G -W -p "$DEMO/server/acme.pub" -s "$DEMO/server/acme.key" >/dev/null
printf '[UPDATE]\r\nAPPNAME=Acme Contabilidad\r\nAPPEXE=acme.exe\r\nSERVER1=http://127.0.0.1:%s/\r\nPATHUPD=acme\r\nFILEPHP=checkUpdates.php\r\nFILEZIP=acme.zip\r\nPUBKEY=%s\r\n' \
  "$PORT" "$(tail -n 1 "$DEMO/server/acme.pub")" > "$DEMO/app/updater.cfi"

# Version 2.0 on the server: the program, its version file and a data file in a subfolder.
cp "$BUILD/bin/zlt_sample_app.exe" "$DEMO/package/acme.exe"
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
    limit_rate 256k;
  }
}
CONF
PIDS=()
wineserver_pid=""
cleanup() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  if [ -n "$wineserver_pid" ]; then kill "$wineserver_pid" 2>/dev/null || true; wait "$wineserver_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
/usr/sbin/nginx -c "$DEMO/server/nginx.conf" -e "$DEMO/server/error.log" &
PIDS+=($!)

for n in $(seq 90 120); do [ -e /tmp/.X11-unix/X$n ] || { DISPLAY_NUMBER=$n; break; }; done
Xvfb ":$DISPLAY_NUMBER" -screen 0 800x450x24 -nolisten tcp >/dev/null 2>&1 &
PIDS+=($!)
export DISPLAY=":$DISPLAY_NUMBER"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break; sleep 0.1; done

# A fresh Wine prefix of the demo's own, with its own server; no search path for DLLs or plugins.
export WINEPREFIX=$DEMO/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
wineserver -f -p >"$DEMO/wineserver.log" 2>&1 &
wineserver_pid=$!
timeout 300 wineboot --init >"$DEMO/wineboot.log" 2>&1
# No window manager on Xvfb: Wine draws the frames itself, without waiting for one.
timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$DEMO/reg.log" 2>&1
for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && break; sleep 0.1; done

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
