# Sourced by the benchmarks.
#
#   bench_require TOOL...      fails unless every tool can be run
#   bench_build BUILD TARGET   builds TARGET of the repository in BUILD (Release when new)
#   bench_work NAME
#   bench_updated RELEASE FOLDER
#   bench_app_tree FOLDER VERSION LARGE-BYTES PROGRAM NAME
#
# A temporary folder for the run (under TMPDIR), in $work, with www/, out/ and a private
# XDG_RUNTIME_DIR, the Qt programs set to draw offscreen and transfers that stop moving bounded.
# On any exit every process in bench_pids is stopped and the folder removed.
bench_require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "$0: $tool is needed" >&2; exit 1; }
    done
}
bench_build() {
    cmake -S "$(dirname "${BASH_SOURCE[0]}")/.." -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build "$1" -j2 --target "$2"
}
bench_pids=()
bench_work() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    trap bench_cleanup EXIT
    trap 'exit 130' INT TERM
    mkdir -p "$work/www" "$work/out" "$work/xdg"
    chmod 700 "$work/xdg"
    export XDG_RUNTIME_DIR=$work/xdg QT_QPA_PLATFORM=offscreen
    # A transfer that stops moving ends the run instead of hanging it.
    export ZLT_CONNECT_TIMEOUT_MS=5000 ZLT_STALL_TIMEOUT_MS=10000
}
bench_cleanup() {
    for pid in "${bench_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}

# nginx on a free loopback port, its own files in a folder of the run:
#
#   start_nginx RUNDIR WWW PROBE [LOG_FORMAT] [SERVER_LINES]
#
# Serves WWW with sendfile; writes RUNDIR/nginx.conf, its error log and, with LOG_FORMAT (nginx
# variables, e.g. '$request $status $bytes_sent'), RUNDIR/access.log; SERVER_LINES go inside the
# server block. Sets nginx_pid (also added to bench_pids) and nginx_port, and returns once PROBE
# (a path) answers; fails with nginx's error log when it does not.
start_nginx() {
    local run=$1 www=$2 probe=$3 format=${4:-} server_lines=${5:-}
    local user_line= access="access_log off;"
    nginx_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    # Workers run as the invoking user; root's default would be "nobody", who cannot read the run.
    [[ $(id -u) -eq 0 ]] && user_line='user root;'
    [[ -n $format ]] && access="log_format bench '$format'; access_log $run/access.log bench;"
    mkdir -p "$run/tmp"
    cat >"$run/nginx.conf" <<CONF
daemon off;
$user_line
pid $run/nginx.pid;
error_log $run/nginx-error.log;
events {}
http {
    $access
    client_body_temp_path $run/tmp;
    proxy_temp_path $run/tmp;
    fastcgi_temp_path $run/tmp;
    uwsgi_temp_path $run/tmp;
    scgi_temp_path $run/tmp;
    sendfile on;
    server {
        listen 127.0.0.1:$nginx_port;
        root $www;
        $server_lines
    }
}
CONF
    nginx -c "$run/nginx.conf" -e "$run/nginx-error.log" &
    nginx_pid=$!
    bench_pids+=("$nginx_pid")
    for _ in $(seq 50); do
        curl -sf -o /dev/null -r 0-0 "http://127.0.0.1:$nginx_port$probe" && return 0
        sleep 0.1
    done
    echo "nginx did not start" >&2
    cat "$run/nginx-error.log" >&2
    return 1
}

# Whether FOLDER was updated to the tree RELEASE: the restarted program wrote its line (waited for
# up to 10 s), and every file of RELEASE is in FOLDER as it is there (files of FOLDER alone, the
# updater's among them, don't count). What differs goes to standard error.
bench_updated() { # release folder
    local release=$1 folder=$2 differences
    for _ in $(seq 100); do
        grep -q "version=2.0 args=Upd=1" "$folder/sample_app.log" 2>/dev/null && break
        sleep 0.1
    done
    differences=$(diff -rq "$release" "$folder" | grep -v "^Only in $folder" || true)
    [[ -z $differences ]] || echo "$differences" | head >&2
    grep -q "version=2.0 args=Upd=1" "$folder/sample_app.log" 2>/dev/null && [[ -z $differences ]]
}

# A version of the benchmarks' application in FOLDER: the sample program PROGRAM as NAME,
# version.txt, 3000 random files of 4 KiB in 30 folders of data/, and big.bin of LARGE-BYTES
# random bytes, with an empty Updates/.
bench_app_tree() { # folder version large-bytes program name
    local folder=$1 version=$2 large=$3
    mkdir -p "$folder/Updates"
    cp "$4" "$folder/$5"
    echo "$version" >"$folder/version.txt"
    python3 - "$folder/data" <<'PY'
import os, sys
for n in range(3000):
    folder = os.path.join(sys.argv[1], 'm%02d' % (n % 30))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'f%04d.bin' % n), 'wb') as f:
        f.write(os.urandom(4096))
PY
    timeout 300 head -c "$large" /dev/urandom >"$folder/big.bin"
}
