#!/usr/bin/env bash
# Download throughput and peak memory of the web updater's three transports, against
# `curl -o`, over loopback from a local nginx. Writes RESULTS.md beside this script.
#
#   bench/download/run.sh
#
# Environment: ZLT_BENCH_BUILD (build folder, default <repository>/build-bench),
# ZLT_BENCH_RUNS (timed runs per case, default 3), TMPDIR (where the packages and the
# downloads go; keep it on the disk you care about). Every step is bounded by `timeout`; the
# server is stopped and the temporary folder removed on any exit.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZLT_BENCH_BUILD:-$root/build-bench}
runs=${ZLT_BENCH_RUNS:-3}
results=$here/RESULTS.md

source "$root/bench/common.sh"
bench_require nginx curl hyperfine jq /usr/bin/time
bench_build "$build" zlt_download_bench
bench=$build/bin/zlt_download_bench
bench_work zlt-download

# Random bytes: nothing on the way can compress them. The 1-byte package shows the fixed cost
# of a run (process start, Qt, connection), which weighs on the small package's ratio.
declare -A bytes=([1b]=1 [100m]=$((100 * 1024 * 1024)) [1g]=$((1024 * 1024 * 1024)))
declare -A label=([1b]="1 byte" [100m]="100 MiB" [1g]="1 GiB")
sizes=(1b 100m 1g)
for size in "${sizes[@]}"; do
    timeout 300 head -c "${bytes[$size]}" /dev/urandom >"$work/www/package-$size.zip"
done

start_nginx "$work" "$work/www" /package-100m.zip
base=http://127.0.0.1:$nginx_port

out=$work/out
# name|command; the first is the reference. Ours keep their package (--keep) so that, as for
# curl, removing it happens in --prepare, outside the timed run.
cases() {
    local url=$1
    echo "curl|curl -s -o $out/curl.zip $url"
    echo "component, dialog + events|$bench --transport component --url $url --folder $out --dialog --events --keep"
    echo "component, bare|$bench --transport component --url $url --folder $out --keep"
    echo "rest, dialog + events|$bench --transport rest --url $url --folder $out --dialog --events --keep"
    echo "platform, dialog + events|$bench --transport platform --url $url --folder $out --dialog --events --keep"
}

# Peak resident set size in KiB of one run; ours also prove that the whole package arrived.
peak_rss() {
    local command=$1 expected=$2 log=$work/time.log
    rm -rf "$out" && mkdir -p "$out"
    # shellcheck disable=SC2086 # the command is a word list on purpose
    timeout 600 /usr/bin/time -v $command >"$work/run.out" 2>"$log"
    if [[ $command == "$bench"* ]] && ! grep -q "^bytes $expected " "$work/run.out"; then
        echo "run.sh: incomplete package from: $command" >&2
        cat "$work/run.out" >&2
        exit 1
    fi
    awk -F': ' '/Maximum resident set size/ { print $2 }' "$log"
}

declare -A mean stddev cpu rss
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for size in "${sizes[@]}"; do
    url=$base/package-$size.zip
    names=()
    args=()
    while IFS='|' read -r name command; do
        names+=("$name")
        args+=(-n "$name" "$command")
        rss[$size,$name]=$(peak_rss "${command/ --keep/}" "${bytes[$size]}")
    done < <(cases "$url")
    timeout 1800 hyperfine --style basic --warmup 1 --runs "$runs" \
        --prepare "rm -rf $out && mkdir -p $out" \
        --export-json "$work/hyperfine-$size.json" "${args[@]}"
    for i in "${!names[@]}"; do
        mean[$size,${names[$i]}]=$(jq -r ".results[$i].mean" "$work/hyperfine-$size.json")
        stddev[$size,${names[$i]}]=$(jq -r ".results[$i].stddev" "$work/hyperfine-$size.json")
        cpu[$size,${names[$i]}]=$(jq -r ".results[$i] | .user + .system" "$work/hyperfine-$size.json")
    done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

{
    echo "# Download benchmark"
    echo
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    echo "- Machine: $(nproc) CPUs, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)," \
        "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) RAM, $(uname -r)," \
        "$(findmnt -n -o FSTYPE --target "$work") for both outputs"
    echo "- Load average before / after: $load_before / $load_after"
    echo "- $(curl --version | head -n 1 | cut -d' ' -f1-3), nginx $(nginx -v 2>&1 | cut -d/ -f2), hyperfine $(hyperfine --version | cut -d' ' -f2)"
    echo "- Method: nginx (sendfile) on 127.0.0.1 serves random bytes; hyperfine \`--warmup 1 --runs $runs\`," \
        "each download into a fresh folder; time of the whole process. Ratio = curl's mean time / ours" \
        "(goal >= 0.95). CPU = user + system time of the process, which other load on the machine" \
        "disturbs less than the wall time. Peak RSS from \`/usr/bin/time -v\` on one more run each, which" \
        "also checks that the whole package arrived."
    echo "- \"dialog + events\": \`--dialog --events\` (default progress dialog shown, offscreen; both" \
        "host progress events attached). \"bare\": neither."
    echo
    echo "| Package | Case | Time (s) | MiB/s | Ratio | CPU (s) | Peak RSS (MiB) |"
    echo "|---|---|---|---|---|---|---|"
    for size in "${sizes[@]}"; do
        while IFS='|' read -r name _; do
            awk -v size="$size" -v name="$name" -v m="${mean[$size,$name]}" -v sd="${stddev[$size,$name]}" \
                -v ref="${mean[$size,curl]}" -v b="${bytes[$size]}" -v r="${rss[$size,$name]}" -v c="${cpu[$size,$name]}" \
                -v package="${label[$size]}" 'BEGIN {
                    ratio = name == "curl" ? "-" : sprintf("%.2f", ref / m)
                    speed = b < 1048576 ? "-" : sprintf("%.0f", b / 1048576 / m)
                    printf "| %s | %s | %.3f ± %.3f | %s | %s | %.3f | %.1f |\n", package, name, m, sd, speed, ratio, c, r / 1024 }'
        done < <(cases "")
    done
    echo
    echo "Peak memory must not depend on the package size: each case should need the same for"
    echo "100 MiB and 1 GiB."
    echo
    while IFS='|' read -r name _; do
        awk -v name="$name" -v small="${rss[100m,$name]}" -v large="${rss[1g,$name]}" \
            -v m100="${mean[100m,$name]}" -v m1g="${mean[1g,$name]}" \
            -v c100="${mean[100m,curl]}" -v c1g="${mean[1g,curl]}" 'BEGIN {
                grown = large - small
                printf "- %s: memory %s (%+.1f MiB from 100 MiB to 1 GiB)", name,
                       (grown > 8192 ? "GROWS with the size" : "same for both sizes"), grown / 1024
                if (name != "curl") {
                    low = (c100 / m100 < 0.95 || c1g / m1g < 0.95)
                    printf "; throughput %s", (low ? "BELOW the goal" : "meets the goal")
                }
                printf "\n" }'
    done < <(cases "")
} >"$results"

cat "$results"
