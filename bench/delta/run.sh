#!/usr/bin/env bash
# Only what changed travels: the whole update run of `updater VER=1.0` against a release that
# zlt-publish made (the program, version.txt, 3000 files of 4 KiB in 30 folders, a 2 MiB library
# and big.bin of 100 MiB, all random bytes), served by nginx on 127.0.0.1 at 10 MiB/s
# (limit_rate 10m). Eight runs in each round, each on a fresh copy of the installed folder:
#
#   a        30 small files, the 2 MiB library and version.txt differ from the release
#   b        only big.bin differs
#   c        nothing differs
#   d        a fresh folder: the updater and its settings alone
#   whole-X  the installed folder of case X, and a manifest without the entries' places: the
#            whole package travels, as it did before the entries could travel alone
#
# For each run: the bytes nginx sent (its access log), the wall time and the CPU time (user +
# system) of the updater's whole run (/usr/bin/time), and how long the comparison of the
# installed files took (the updater's log). Every run is checked: the restarted program logged
# `version=2.0 args=Upd=1` and the tree equals the release. Writes RESULTS.md beside this script
# (the text above the figures' marker is kept).
#
# Environment:
#   ZLT_BENCH_BUILD    build folder (default <repository>/build, configured as RelWithDebInfo
#                      when new)
#   ZLT_BENCH_WORK     the release and the installed folders, kept between runs (default
#                      <repository>/build/bench-delta)
#   ZLT_BENCH_ROUNDS   rounds (default 3)
#   ZLT_BENCH_NOTE     a line about the machine's load, written under the figures
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZLT_BENCH_BUILD:-$root/build}
store=${ZLT_BENCH_WORK:-$root/build/bench-delta}
rounds=${ZLT_BENCH_ROUNDS:-3}
note=${ZLT_BENCH_NOTE:-}
results=$here/RESULTS.md

source "$root/bench/common.sh"
bench_require /usr/bin/time nginx python3 curl cmake ninja timeout diff

echo "== building updater, zlt_sample_app and zlt-publish in $build"
[[ -f $build/CMakeCache.txt ]] || cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
nice cmake --build "$build" -j2 --target updater zlt_sample_app zlt-publish >/dev/null

# Names of their own: the updater lets only one process of its executable's name run and stops
# every process of the application's name.
updater_name=zltbench-delta-updater
app_name=zltbench-delta-app

# A tree of the release's names: make_tree FOLDER VERSION SMALL_SEED LIBRARY_SEED BIG_SEED
# CHANGED_SMALL. The first CHANGED_SMALL small files take other bytes than SMALL_SEED gives.
make_tree() {
    local folder=$1
    mkdir -p "$folder"
    cp "$build/bin/zlt_sample_app" "$folder/$app_name"
    echo "$2" >"$folder/version.txt"
    python3 - "$folder" "$3" "$4" "$5" "$6" <<'PY'
import os, random, sys
folder, small_seed, library_seed, big_seed, changed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
def write(path, size, seed):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    rng = random.Random(seed)
    with open(path, 'wb') as f:
        left = size
        while left:
            piece = min(left, 1 << 20)
            f.write(rng.randbytes(piece))
            left -= piece
for n in range(3000):
    seed = small_seed * 100000 + n + (50000 if n < changed else 0)
    write(os.path.join(folder, 'data', 'm%02d' % (n % 30), 'f%04d.bin' % n), 4096, seed)
write(os.path.join(folder, 'lib', 'acme-core.so'), 2 << 20, library_seed)
write(os.path.join(folder, 'big.bin'), 100 << 20, big_seed)
PY
}

channel=$store/www/acme/Produccion
if [[ ! -f $store/done ]]; then
    echo "== making the release and the installed folders in $store"
    rm -rf "$store" && mkdir -p "$store/www/acme"
    make_tree "$store/release" 2.0 1 1 1 0
    timeout 600 "$build/bin/zlt-publish" --from "$store/release" --version 2.0 --app "$app_name" --channel Produccion \
        --to "$store/www/acme" --package acme.zip >/dev/null
    # The same package under another name, with a manifest that does not give the entries' places.
    ln -f "$channel/acme.zip" "$channel/whole.zip"
    python3 - "$channel/acme.zip.manifest" "$channel/whole.zip.manifest" <<'PY'
import json, sys
manifest = json.load(open(sys.argv[1]))
manifest['package']['name'] = 'whole.zip'
for entry in manifest['entries']:
    entry.pop('zip', None)
json.dump(manifest, open(sys.argv[2], 'w'), indent=4)
PY
    make_tree "$store/installed/a" 1.0 1 2 1 30
    make_tree "$store/installed/b" 2.0 1 1 2 0
    make_tree "$store/installed/c" 2.0 1 1 1 0
    mkdir -p "$store/installed/d"
    touch "$store/done"
fi
package_bytes=$(stat -c %s "$channel/acme.zip")

bench_work zlt-bench-delta
start_nginx "$work" "$store/www" /acme/Produccion/acme.zip '$msec $status $body_bytes_sent $request_uri' \
    'limit_rate 10m;'

# One run of CASE into a fresh copy; prints: case bytes wall cpu compare-seconds.
run_case() {
    local case=$1 folder=$work/app file=acme.zip from=$1
    [[ $case == whole-* ]] && { file=whole.zip; from=${case#whole-}; }
    rm -rf "$folder"
    cp -a "$store/installed/$from" "$folder"
    mkdir -p "$folder/Updates"
    cp "$build/bin/updater" "$folder/$updater_name"
    printf '[UPDATE]\r\nAPPNAME=Acme\r\nAPPEXE=%s\r\nSERVER1=http://127.0.0.1:%s/\r\nPATHUPD=acme\r\nFILEPHP=checkUpdates.php\r\nFILEZIP=%s\r\n' \
        "$app_name" "$nginx_port" "$file" >"$folder/$updater_name.cfi"
    sync -f "$folder"
    local lines
    lines=$(wc -l <"$work/access.log")
    (cd "$folder" && /usr/bin/time -f '%e %U %S' -o "$work/time.txt" timeout 600 "./$updater_name" VER=1.0 \
        >"$work/out.txt" 2>&1) || { echo "run.sh: the updater failed in case $case" >&2; cat "$work/out.txt" >&2; exit 1; }
    if ! bench_updated "$store/release" "$folder"; then
        echo "run.sh: case $case did not update the folder" >&2
        cat "$folder/$updater_name.log" >&2
        exit 1
    fi
    sleep 0.2 # nginx writes its line once the answer has gone out
    local bytes compare
    bytes=$(tail -n +"$((lines + 1))" "$work/access.log" | awk '$4 ~ /\.zip$/ { s += $3 } END { print s + 0 }')
    compare=$(grep -o 'compared in [0-9.]* s' "$folder/$updater_name.log" | awk '{ print $3 }' | tail -n 1)
    awk -v c="$case" -v b="$bytes" -v t="$(cat "$work/time.txt")" -v m="${compare:--}" \
        'BEGIN { split(t, f, " "); printf "%s %s %s %.2f %s\n", c, b, f[1], f[2] + f[3], m }'
}

echo "== $rounds rounds of a, b, c, d, each after the whole package into the same folder (package: $package_bytes bytes)"
: >"$work/runs.txt"
for round in $(seq "$rounds"); do
    for case in whole-a a whole-b b whole-c c whole-d d; do
        run_case "$case" | tee -a "$work/runs.txt"
    done
done

others=$(pgrep -c -f 'ninja|cc1plus|ctest' || true)
python3 - "$work/runs.txt" "$package_bytes" "$results" "$(git -C "$root" rev-parse --short=12 HEAD)" \
    "$others" "$note" <<'PY'
import statistics as st, sys
runs, package, results, commit, others, note = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5], sys.argv[6]
by = {}
for case, sent, wall, cpu, compare in (line.split() for line in open(runs)):
    by.setdefault(case, []).append((int(sent), float(wall), float(cpu), None if compare == '-' else float(compare)))
def median(case, i):
    values = [r[i] for r in by[case] if r[i] is not None]
    return st.median(values) if values else None
names = {'a': 'a: 30 small files + 2 MiB library changed', 'b': 'b: only the 100 MiB file changed',
         'c': 'c: nothing changed', 'd': 'd: a fresh folder'}
lines = ['| Case | Sent (MiB) | Sent / package | Wall (s) | Wall / whole | CPU (s) | CPU / whole | Compare (s) |',
         '|---|---|---|---|---|---|---|---|']
def row(name, case, base):
    sent, wall, cpu, compare = (median(case, i) for i in range(4))
    return '| %s | %.2f | %.2f%% | %.2f | %.3f | %.2f | %.3f | %s |' % (
        name, sent / 1048576, 100.0 * sent / package, wall, wall / median(base, 1), cpu, cpu / median(base, 2),
        '-' if compare is None else '%.3f' % compare)
for case in ('a', 'b', 'c', 'd'):
    lines.append(row('whole package, folder of ' + case, 'whole-' + case, 'whole-' + case))
    lines.append(row(names[case], case, 'whole-' + case))
text = open(results).read() if __import__('os').path.exists(results) else ''
marker = '<!-- figures -->'
head = text.split(marker)[0] if marker in text else text
body = '\n'.join([marker, '',
                  'Medians of %d rounds; package %d bytes; commit %s; compiler or test processes running '
                  'at the end: %s.' % (len(by['a']), package, commit, others),
                  '' if not note else '\n' + note, ''] + lines + [''])
open(results, 'w').write(head.rstrip('\n') + '\n\n' + body if head else body)
print('\n'.join(lines))
PY
