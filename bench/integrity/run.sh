#!/usr/bin/env bash
# What signed packages and resumed downloads cost, over loopback from a local nginx, with the
# download transport that the updater uses. Writes RESULTS.md beside this script.
#
#   bench/integrity/run.sh
#
# 1. Signature check: the same 1 GiB package downloaded without and with a public key set
#    (the signature fetched first, the package hashed on a second thread while it arrives and
#    checked at the end), in turn under hyperfine. Goal: at most 10% more time. Once at full
#    loopback speed, once from a server limited to ZLT_BENCH_RATE (default 200m: 200 MB/s,
#    faster than most links a customer has). Peak RSS of a signed run (goal: under 64 MiB).
# 2. Resumption: the package downloaded through a proxy that resets the connection twice, a
#    third of the way through each answer. nginx's own count of the bytes it sent for the
#    package's requests, against the package's size (goal: under 1.4).
#
# Environment: ZLT_BENCH_BUILD (build folder, default <repository>/build-bench),
# ZLT_BENCH_RUNS (timed runs per case, default 5), ZLT_BENCH_MIB (package size, default 1024),
# ZLT_BENCH_RESULTS (the file to write, default RESULTS.md here), TMPDIR (where the package and
# the downloads go). Every step is bounded by `timeout`; the
# servers are stopped and the temporary folder removed on any exit.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZLT_BENCH_BUILD:-$root/build-bench}
runs=${ZLT_BENCH_RUNS:-5}
mib=${ZLT_BENCH_MIB:-1024}
rate=${ZLT_BENCH_RATE:-200m}
results=${ZLT_BENCH_RESULTS:-$here/RESULTS.md}

source "$root/bench/common.sh"
bench_require nginx minisign hyperfine jq python3 /usr/bin/time
bench_build "$build" zlt_download_bench
bench=$build/bin/zlt_download_bench
bench_work zlt-integrity

package=$work/www/package.zip
bytes=$((mib * 1024 * 1024))
timeout 300 head -c "$bytes" /dev/urandom >"$package"
timeout 60 minisign -G -W -p "$work/key.pub" -s "$work/key.sec" >/dev/null
sign_start=$(date +%s.%N)
timeout 300 minisign -S -s "$work/key.sec" -m "$package" >/dev/null
sign_seconds=$(awk -v a="$sign_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')
pubkey=$(tail -n 1 "$work/key.pub")
# What BLAKE2b-512 over the package costs by itself, on one core (coreutils; from the page cache).
cat "$package" >/dev/null
b2_start=$(date +%s.%N)
timeout 300 b2sum "$package" >/dev/null
b2_seconds=$(awk -v a="$b2_start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }')

start_nginx "$work" "$work/www" /package.zip '$request $status $bytes_sent' \
    "location /limited/ { alias $work/www/; limit_rate $rate; }"
port=$nginx_port
base=http://127.0.0.1:$port

out=$work/out
plain="$bench --transport platform --url $base/package.zip --folder $out --keep"
signed="$plain --pubkey $pubkey"

limited=${plain/package.zip/limited\/package.zip}
# 1. The signature check.
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
timeout 3600 hyperfine --style basic --warmup 1 --runs "$runs" --prepare "rm -rf $out && mkdir -p $out" \
    --export-json "$work/signature.json" -n unsigned "$plain" -n signed "$signed" \
    -n "unsigned, $rate/s" "$limited" -n "signed, $rate/s" "$limited --pubkey $pubkey"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
rm -rf "$out" && mkdir -p "$out"
timeout 600 /usr/bin/time -v $signed >"$work/signed.out" 2>"$work/signed.time"
grep -q "^bytes $bytes " "$work/signed.out" || { echo "run.sh: the signed run did not hand the package over" >&2; cat "$work/signed.out" "$work/signed.time" >&2; exit 1; }
signed_rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/signed.time")
rm -rf "$out" && mkdir -p "$out"
timeout 600 /usr/bin/time -v $plain >"$work/plain.out" 2>"$work/plain.time"
plain_rss=$(awk -F': ' '/Maximum resident set size/ { print $2 }' "$work/plain.time")

# 2. Two resets on the way.
cut=$((bytes / 3))
python3 "$root/tests/support/cut_proxy.py" "$port" "$cut,$cut" "$work/cuts.log" >"$work/proxy.port" &
bench_pids+=($!)
for _ in $(seq 50); do [[ -s $work/proxy.port ]] && break; sleep 0.1; done
proxy_port=$(head -n 1 "$work/proxy.port")
: >"$work/access.log"
rm -rf "$out" && mkdir -p "$out"
timeout 600 $bench --transport platform --url "http://127.0.0.1:$proxy_port/package.zip" --folder "$out" \
    >"$work/resume.out" 2>"$work/resume.err"
grep -q "^bytes $bytes " "$work/resume.out" || { echo "run.sh: the cut download did not complete" >&2; cat "$work/resume.out" "$work/resume.err" >&2; exit 1; }
sleep 1 # nginx logs a request once its answer is over
sent=$(awk '$2 == "/package.zip" { s += $NF } END { print s + 0 }' "$work/access.log")
requests=$(awk '$2 == "/package.zip" { printf "%s%s %s", (n++ ? ", " : ""), $(NF-1), $NF }' "$work/access.log")

mean() { jq -r ".results[$1].mean" "$work/signature.json"; }
sd() { jq -r ".results[$1].stddev" "$work/signature.json"; }
cpu() { jq -r ".results[$1] | .user + .system" "$work/signature.json"; }
{
    echo "# Signed packages and resumed downloads"
    echo
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- Machine: $(nproc) CPUs, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)," \
        "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) RAM, $(uname -r)," \
        "$(findmnt -n -o FSTYPE --target "$work") for the downloads"
    echo "- Load average before / after the timed runs: $load_before / $load_after"
    echo "- nginx $(nginx -v 2>&1 | cut -d/ -f2), $(minisign -v), hyperfine $(hyperfine --version | cut -d' ' -f2)," \
        "package of $mib MiB of random bytes; the transport the updater uses (platform client)."
    echo "- For reference: signing it took $sign_seconds s (\`minisign -S\`); BLAKE2b-512 of it alone," \
        "the hash the signature covers, $b2_seconds s (\`b2sum\`, one core, from the page cache)."
    echo
    echo "## 1. Signature check (goal: at most 10% more time; peak RSS under 64 MiB)"
    echo
    echo "hyperfine \`--warmup 1 --runs $runs\`, each download into a fresh folder, time of the whole process."
    echo
    echo "| Server | Case | Time (s) | CPU (s) | Time added |"
    echo "|---|---|---|---|---|"
    for i in 0 1 2 3; do
        awk -v server="$([[ $i -lt 2 ]] && echo "loopback, full speed" || echo "limited to $rate/s")" \
            -v name="$(jq -r ".results[$i].command" "$work/signature.json")" -v m="$(mean "$i")" -v s="$(sd "$i")" \
            -v c="$(cpu "$i")" -v base="$(mean $((i / 2 * 2)))" 'BEGIN {
                added = name ~ /^signed/ ? sprintf("%+.1f%% (%s)", (m / base - 1) * 100, (m / base <= 1.10 ? "meets the goal" : "ABOVE the goal")) : "-"
                printf "| %s | %s | %.3f ± %.3f | %.3f | %s |\n", server, name, m, s, c, added }'
    done
    echo
    awk -v p="$plain_rss" -v r="$signed_rss" 'BEGIN {
        printf "Peak RSS at full speed: unsigned %.1f MiB, signed %.1f MiB (%s).\n", p / 1024, r / 1024,
               (r < 65536 ? "under 64 MiB" : "OVER 64 MiB") }'
    echo
    echo "## 2. Resumption (goal: nginx sends under 1.4 times the package)"
    echo
    echo "Connections of the cutting proxy (number, bytes passed to the client, outcome):"
    echo
    sed 's/^/    /' "$work/cuts.log"
    echo
    echo "nginx's requests for the package (status, bytes sent): $requests"
    echo
    awk -v s="$sent" -v b="$bytes" 'BEGIN {
        printf "Bytes sent by nginx: %d for a package of %d: %.3f times (%s).\n", s, b, s / b,
               (s / b < 1.4 ? "meets the goal" : "ABOVE the goal") }'
} >"$results"

cat "$results"
