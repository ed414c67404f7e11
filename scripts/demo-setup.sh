#!/usr/bin/env bash
# The demo's shared part, sourced by scripts/demo.sh and scripts/demo-windows.sh:
#   demo_prepare DEMO APPEXE SAMPLE RATE PUBLISH
# makes DEMO/app (the sample program SAMPLE as APPEXE at version 1.0, and updater.cfi naming a
# free loopback port and the publisher's key), and on the server side release 2.0 (the program,
# its version file and a data file in a subfolder) published by zlt-publish (the program
# PUBLISH): the package, its manifest, their signatures and the check script, served by nginx at
# RATE bytes a second. Sets PORT, and NGINX_PID for the caller to stop.
#   start_xvfb DIR
# starts Xvfb on a free display that it picks itself, exports DISPLAY and sets XVFB_PID for the
# caller to stop; DIR receives the display number.
demo_prepare() {
  local demo=$1 appexe=$2 sample=$3 rate=$4 publish=$5
  rm -rf "$demo"
  mkdir -p "$demo/app" "$demo/www/acme" "$demo/server" "$demo/package/data"
  PORT=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')

  cp "$sample" "$demo/app/$appexe"
  echo "1.0" > "$demo/app/version.txt"
  # The publisher's key pair: the updater installs only what the secret key signed.
  minisign -G -W -p "$demo/server/acme.pub" -s "$demo/server/acme.key" >/dev/null
  printf '[UPDATE]\r\nAPPNAME=Acme Contabilidad\r\nAPPEXE=%s\r\nSERVER1=http://127.0.0.1:%s/\r\nPATHUPD=acme\r\nFILEPHP=checkUpdates.php\r\nFILEZIP=acme.zip\r\nPUBKEY=%s\r\n' \
    "$appexe" "$PORT" "$(tail -n 1 "$demo/server/acme.pub")" > "$demo/app/updater.cfi"

  cp "$sample" "$demo/package/$appexe"
  echo "2.0" > "$demo/package/version.txt"
  head -c 300000 /dev/urandom > "$demo/package/data/precios.db"
  # The publisher's one step: package, manifest, signatures and check script, put in place.
  "$publish" --from "$demo/package" --version 2.0 --app "${appexe%.exe}" --channel Produccion \
    --to "$demo/www/acme" --key "$demo/server/acme.key" --package acme.zip --expires 90d | sed 's/^/  zlt-publish: /'
  "$publish" --verify "$demo/www/acme/Produccion" --cfi "$demo/app/updater.cfi" | sed 's/^/  zlt-publish --verify: /'

  cat > "$demo/server/nginx.conf" <<CONF
daemon off;
user root;
pid $demo/server/nginx.pid;
error_log $demo/server/error.log;
events {}
http {
  access_log $demo/server/access.log;
  client_body_temp_path $demo/server/tmp;
  proxy_temp_path $demo/server/tmp;
  fastcgi_temp_path $demo/server/tmp;
  uwsgi_temp_path $demo/server/tmp;
  scgi_temp_path $demo/server/tmp;
  server {
    listen 127.0.0.1:$PORT;
    root $demo/www;
    # Slow enough for the window to be seen at work.
    limit_rate $rate;
  }
}
CONF
  /usr/sbin/nginx -c "$demo/server/nginx.conf" -e "$demo/server/error.log" &
  NGINX_PID=$!
  for _ in $(seq 50); do (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && break; sleep 0.1; done
}

start_xvfb() {
  local dir=$1
  mkdir -p "$dir"
  : >"$dir/display"
  # -displayfd: Xvfb takes the first free display itself and writes its number, so two runs
  # never race for one.
  Xvfb -displayfd 3 -screen 0 800x450x24 -nolisten tcp 3>"$dir/display" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
  [ -s "$dir/display" ] || { echo "Xvfb did not start"; return 1; }
  export DISPLAY=":$(tr -d '[:space:]' <"$dir/display")"
}
