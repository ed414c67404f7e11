#!/usr/bin/env bash
# The new version on trial, as the updater runs it: what the verdict costs and what keeping the
# previous version costs. An installed application (its program, version.txt, 3000 files of
# 4 KiB in 30 folders and one file of 100 MiB, random bytes) is updated by the real updater from
# a local nginx to version 2.0 of the same names, in a fresh copy each time, two ways in turn:
#
#   passes   the new version ends at once with code 0: the replaced files move into
#            Updates/previous/
#   fails    the new version ends at once with code 3: the old files come back
#
# From each run's log (its lines are stamped to the millisecond): the installation's seconds,
# the seconds from the new version's start to the verdict's line, and the part of those that is
# the updater's own work after the program ended (the renames into Updates/previous/, or back).
# Also the bytes in Updates/previous/ against the folder's, and each run's whole length (its log's
# Start to End). Writes the figures into RESULTS.md
# beside this script, between the markers "trial"; prints them too.
#
#   ZLT_BENCH_BUILD    build folder (default <repository>/build)
#   ZLT_BENCH_RUNS     runs of each way (default 5)
#   ZLT_BENCH_BASELINE an updater program without the trial (built from an older commit): its
#                      runs ("before", the passing package) come first in each round
#   TMPDIR             where the copies go (default /tmp; /dev/shm for tmpfs)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${ZLT_BENCH_BUILD:-$root/build}
runs=${ZLT_BENCH_RUNS:-5}
source "$root/bench/common.sh"
bench_require nginx zip python3 curl timeout
cmake --build "$build" -j2 --target updater zlt_sample_app >/dev/null
bench_work zlt-bench-trial

updater_name=zltbench-trial-updater
app_name=zltbench-trial-app
make_tree() { # folder version
    bench_app_tree "$1" "$2" $((100 * 1024 * 1024)) "$build/bin/zlt_sample_app" "$app_name"
}
make_tree "$work/old" 1.0
make_tree "$work/new" 2.0
mkdir -p "$work/www/acme/Produccion"
(cd "$work/new" && zip -q -r -X "$work/www/acme/Produccion/passes.zip" .)
cp "$work/www/acme/Produccion/passes.zip" "$work/www/acme/Produccion/fails.zip"
echo "exit 3" >"$work/new/trial.txt"
(cd "$work/new" && zip -q -X "$work/www/acme/Produccion/fails.zip" trial.txt)
start_nginx "$work" "$work/www" /acme/Produccion/passes.zip

# One run of the way $1 in a fresh copy with the updater $2; prints: install-s verdict-s own-s
# previous-bytes folder-bytes run-s (verdict-s and own-s are 0 for an updater without a trial)
run_once() {
    local way=$1 program=$2 app=$work/app package=$1
    [[ $way == before ]] && package=passes
    rm -rf "$app"
    cp -a "$work/old" "$app"
    cp "$program" "$app/$updater_name"
    printf '[UPDATE]\r\nAPPNAME=Acme\r\nAPPEXE=%s\r\nSERVER1=http://127.0.0.1:%s/\r\nPATHUPD=acme\r\nFILEPHP=c.php\r\nFILEZIP=%s.zip\r\nTRIAL=10\r\n' \
        "$app_name" "$nginx_port" "$package" >"$app/$updater_name.cfi"
    sync -f "$app"
    (cd "$app" && timeout 120 "./$updater_name" VER=1.0)
    local previous=0
    [[ -d $app/Updates/previous ]] && previous=$(du -sb "$app/Updates/previous" | cut -f1)
    python3 - "$app/$updater_name.log" "$previous" "$(du -sb --exclude=Updates "$app" | cut -f1)" <<'PY'
import re, sys
from datetime import datetime
stamp = lambda line: datetime.fromisoformat(line.split(' ', 1)[0])
lines = open(sys.argv[1], encoding='utf-8').read().splitlines()
first = lambda text: next((l for l in lines if text in l), None)
installed, started, verdict = first(' INFO Installed '), first(' on trial for '), first('Version on trial ')
total = waited = 0.0
if started and verdict:
    waited = float(re.search(r'after (\d+\.\d+) s', verdict).group(1))
    total = (stamp(verdict) - stamp(started)).total_seconds()
run = (stamp(first(' INFO End')) - stamp(first(' INFO Start: '))).total_seconds()
print('%.3f %.3f %.3f %s %s %.3f' % (float(re.search(r' in (\d+\.\d+) s:', installed).group(1)), total,
                                     total - waited, sys.argv[2], sys.argv[3], run))
PY
}

ways=(passes fails)
[[ -n ${ZLT_BENCH_BASELINE:-} ]] && ways=(before passes fails)
results=()
for i in $(seq "$runs"); do
    for way in "${ways[@]}"; do
        program=$build/bin/updater
        [[ $way == before ]] && program=$ZLT_BENCH_BASELINE
        results+=("$way $(run_once "$way" "$program")")
        echo "${results[-1]}"
    done
done

printf '%s\n' "${results[@]}" >"$work/results.txt"
figures=$(python3 - "$work/results.txt" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    way, *values = line.split()
    rows.setdefault(way, []).append([float(v) for v in values])
print('| way (runs) | whole run | installation | start to verdict | of it, work after the program ended | that work / whole run | Updates/previous | application folder |')
print('|---|---|---|---|---|---|---|---|')
for way, values in rows.items():
    m = lambda i: statistics.median(v[i] for v in values)
    own = statistics.median(v[2] / v[5] for v in values)
    print('| %s (%d) | %.2f s | %.2f s | %.3f s | %.3f s | %.1f %% | %.1f MB | %.1f MB |' % (
        way, len(values), m(5), m(0), m(1), m(2), 100 * own, m(3) / 1e6, m(4) / 1e6))
PY
)
echo "$figures"
place=$(stat -f -c %T "${TMPDIR:-/tmp}")
label=trial-$place
begin="<!-- $label: written by trial.sh -->"
end="<!-- end of $label -->"
block="$begin
$(date -u +%Y-%m-%d), $(git -C "$root" rev-parse --short HEAD), copies on $place, medians:

$figures
$end"
python3 - "$here/RESULTS.md" "$begin" "$end" "$block" <<'PY'
import sys
path, begin, end, block = sys.argv[1:]
text = open(path, encoding='utf-8').read()
if begin in text:
    text = text[:text.index(begin)] + block + text[text.index(end) + len(end):]
else:
    text = text.rstrip('\n') + '\n\n' + block + '\n'
open(path, 'w', encoding='utf-8').write(text)
PY
