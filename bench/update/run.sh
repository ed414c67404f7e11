#!/usr/bin/env bash
# The whole update run: the updater, started as an application starts it, against the line an
# administrator would script instead:
#
#   curl -fsS -o Updates/acme.zip URL && bsdtar -xf Updates/acme.zip -C APPDIR && ./APP Upd=1
#
# Both update a fresh copy of the same installed application (3000 files of 4 KiB and one large
# file, all random bytes, version 1.0) to the package's version 2.0, from the same local nginx,
# in the same place, in turn: ours, the line, ours, the line... Two places: "disk", the work
# folder's disk, and "tmpfs", /dev/shm, where replacing a file costs no device request and the
# programs' own cost shows. Writes the figures into RESULTS.md beside this script, between the
# markers of their label; the rest of the file is kept.
#
#   bench/update/run.sh            build, make the packages (once), measure, write RESULTS.md
#   bench/update/run.sh profile    one updater run under perf, one under user probes and one
#                                  under callgrind, with the first size and in the first place;
#                                  prints the top entries (ZLT_BENCH_CALLGRIND=0: no callgrind)
#   bench/update/run.sh replace    what replacing the installed files costs by itself, five
#                                  ways in turn: unlink and write (as bsdtar), write beside and
#                                  rename over (as the updater), write beside, exchange
#                                  (renameat2 RENAME_EXCHANGE) and unlink the old file; and
#                                  `bsdtar -xf` without and with --safe-writes (beside + rename)
#
# Environment:
#   ZLT_BENCH_REV      a commit to measure instead of the working tree: exported with `git
#                      archive` and built under the work folder (default: the working tree,
#                      built in ZLT_BENCH_BUILD)
#   ZLT_BENCH_BUILD    build folder of the working tree (default <repository>/build, configured
#                      as RelWithDebInfo when new)
#   ZLT_BENCH_WORK     packages and exported commits, kept between runs (default
#                      <repository>/build/bench-update)
#   ZLT_BENCH_PAIRS    pairs per package size and place (default 5, at least 3)
#   ZLT_BENCH_SIZES    default "100m 1g"
#   ZLT_BENCH_PLACES   default "disk tmpfs"
#   ZLT_BENCH_RESULTS  the file to write (default RESULTS.md here)
#   ZLT_BENCH_LABEL    the label of the figures' markers in that file (default "figures")
#   ZLT_BENCH_WARM     GiB of memory to write and free again in /dev/shm right before every timed
#                      run (default 0): on a virtual machine whose host takes back free memory,
#                      pages the guest has not used for some seconds cost a fault in the host the
#                      first time they are written; warmed, both sides run as on a machine whose
#                      memory is its own
# Every run is bounded by `timeout`; the server is stopped, the probes removed and the copies
# deleted on any exit.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
source "$root/bench/common.sh"
build=${ZLT_BENCH_BUILD:-$root/build}
work=${ZLT_BENCH_WORK:-$root/build/bench-update}
rev=${ZLT_BENCH_REV:-}
label=${ZLT_BENCH_LABEL:-figures}
pairs=${ZLT_BENCH_PAIRS:-5}
warm=${ZLT_BENCH_WARM:-0}
[[ $warm =~ ^[0-9]+$ ]] || { echo "run.sh: ZLT_BENCH_WARM must be a whole number of GiB" >&2; exit 2; }
read -r -a sizes <<<"${ZLT_BENCH_SIZES:-100m 1g}"
read -r -a places <<<"${ZLT_BENCH_PLACES:-disk tmpfs}"
results=${ZLT_BENCH_RESULTS:-$here/RESULTS.md}
mode=${1:-measure}

case $mode in
    measure | profile | replace) ;;
    *) echo "usage: $0 [profile | replace]" >&2; exit 2 ;;
esac
((pairs >= 3)) || { echo "run.sh: ZLT_BENCH_PAIRS must be at least 3" >&2; exit 2; }

tools=(/usr/bin/time bsdtar zip curl nginx python3 cmake ninja git timeout diff findmnt)
[[ $mode == profile ]] && tools+=(perf nm valgrind callgrind_annotate)
for tool in "${tools[@]}"; do
    command -v "$tool" >/dev/null || { echo "run.sh: $tool is needed (see scripts/install-deps.sh)" >&2; exit 2; }
done
if [[ $mode == profile ]] && ! perf stat -e task-clock true >/dev/null 2>&1; then
    echo "run.sh: perf cannot count here (kernel.perf_event_paranoid?)" >&2
    exit 2
fi

source=$root
if [[ -n $rev ]]; then
    commit=$(git -C "$root" rev-parse --verify "$rev^{commit}")
    source=$work/src-${commit:0:12}
    build=$work/build-${commit:0:12}
    if [[ ! -f $source/.exported ]]; then
        rm -rf "$source" && mkdir -p "$source"
        git -C "$root" archive "$commit" | tar -x -C "$source"
        touch "$source/.exported"
    fi
    measured="commit ${commit:0:12}, exported with \`git archive\`"
else
    measured="the working tree at commit $(git -C "$root" rev-parse --short=12 HEAD)"
    changed=$(git -C "$root" status --porcelain -- app common http install platform ui webupdater CMakeLists.txt |
        awk '{ print $2 }' | paste -sd' ' -)
    [[ -z $changed ]] || measured+=", not committed changes in: $changed"
fi
echo "== building updater and zlt_sample_app in $build"
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
nice cmake --build "$build" -j2 --target updater zlt_sample_app >/dev/null

# The copies get names of their own: the updater lets only one process of its executable's
# name run and stops every process of the application's name, so the usual "updater" and
# "acme" would meet (and stop) other people's test runs on a shared machine. The updater
# reads the settings file named after itself: zltbench-updater.cfi.
updater_name=zltbench-updater
app_name=zltbench-app

declare -A bytes=([100m]=$((100 * 1024 * 1024)) [1g]=$((1024 * 1024 * 1024)))
for size in "${sizes[@]}"; do
    [[ -n ${bytes[$size]:-} ]] || { echo "run.sh: unknown size $size (100m, 1g)" >&2; exit 2; }
done
[[ $mode == profile ]] && sizes=("${sizes[0]}")

# One package per size, made once: version 2.0 of the application (its program, version.txt,
# 3000 files of 4 KiB in 30 folders, big.bin) zipped, and version 1.0 with the same names and
# other random bytes as the installed folder that each run copies.
make_tree() { # folder version large-bytes
    bench_app_tree "$1" "$2" "$3" "$build/bin/zlt_sample_app" "$app_name"
}

mkdir -p "$work/www/acme/Produccion"
for size in "${sizes[@]}"; do
    pkg=$work/packages/$size
    [[ -f $pkg/done ]] && continue
    echo "== making the $size package in $pkg"
    rm -rf "$pkg" && mkdir -p "$pkg"
    make_tree "$pkg/new" 2.0 "${bytes[$size]}"
    rmdir "$pkg/new/Updates"
    (cd "$pkg/new" && timeout 1200 zip -q -r -X "$pkg/acme.zip" .)
    make_tree "$pkg/old" 1.0 "${bytes[$size]}"
    ln -f "$pkg/acme.zip" "$work/www/acme/Produccion/acme-$size.zip"
    touch "$pkg/done"
done

run=$work/run
nginx_pid=
shm=
probes=
cleanup() {
    [[ -z $probes ]] || perf probe -q -d 'zltbench:*' 2>/dev/null || true
    if [[ -n $nginx_pid ]]; then
        kill "$nginx_pid" 2>/dev/null || true
        wait "$nginx_pid" 2>/dev/null || true
    fi
    rm -rf "$run"
    [[ -z $shm ]] || rm -rf "$shm"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
rm -rf "$run" && mkdir -p "$run/xdg" "$run/tmp"
chmod 700 "$run/xdg"
export XDG_RUNTIME_DIR=$run/xdg

# Where each place's application folder goes.
declare -A folder_of
for place in "${places[@]}"; do
    case $place in
        disk) folder_of[disk]=$run/app ;;
        tmpfs)
            [[ $(stat -f -c %T /dev/shm 2>/dev/null) == tmpfs ]] ||
                { echo "run.sh: /dev/shm is no tmpfs; leave tmpfs out of ZLT_BENCH_PLACES" >&2; exit 2; }
            shm=$(mktemp -d /dev/shm/zlt-bench-update.XXXXXX)
            folder_of[tmpfs]=$shm/app
            ;;
        *) echo "run.sh: unknown place $place (disk, tmpfs)" >&2; exit 2 ;;
    esac
done

# The access log dates each transfer: its end ($msec) and its length ($request_time) split a
# run into before the request, the download and after it.
source "$root/bench/common.sh"
start_nginx "$run" "$work/www" "/acme/Produccion/acme-${sizes[0]}.zip" \
    '$msec $request_time $status $body_bytes_sent $request_uri'
port=$nginx_port
base=http://127.0.0.1:$port/acme/Produccion

# A fresh installed folder: version 1.0, the updater and its settings, on the device before the
# timed run starts, so that neither side pays for writing out the copy or removing the last one.
fresh_copy() { # size folder
    local size=$1 folder=$2
    rm -rf "$folder"
    sync -f "$(dirname "$folder")"
    cp -a "$work/packages/$size/old" "$folder"
    cp "$build/bin/updater" "$folder/$updater_name"
    printf '[UPDATE]\r\nAPPNAME=Acme Contabilidad\r\nAPPEXE=%s\r\nSERVER1=http://127.0.0.1:%s/\r\nPATHUPD=acme\r\nFILEPHP=checkUpdates.php\r\nFILEZIP=acme-%s.zip\r\n' \
        "$app_name" "$port" "$size" >"$folder/$updater_name.cfi"
    sync -f "$folder"
    if ((warm > 0)); then
        local ballast
        ballast=$(mktemp /dev/shm/zlt-bench-warm.XXXXXX)
        dd if=/dev/zero of="$ballast" bs=1M count=$((warm * 1024)) status=none
        rm -f "$ballast"
    fi
}

# The update happened: the restarted program wrote its line, and the tree is version 2.0.
check_updated() { # size folder side
    local size=$1 folder=$2 side=$3
    if ! bench_updated "$work/packages/$size/new" "$folder"; then
        echo "run.sh: $side did not update $folder" >&2
        exit 1
    fi
    if [[ -n $(find "$folder" -name '.zlt-*.tmp' -print -quit) ]]; then
        echo "run.sh: $side left temporary files in $folder" >&2
        exit 1
    fi
}

# One timed run. Prints: wall user sys (from /usr/bin/time), then the seconds from the start
# to the request, the request's own length, and the seconds from its end to the end of the run
# (from nginx's access log and the clock around the run).
timed() { # folder command...
    local folder=$1
    shift
    local log_lines before after request end length
    log_lines=$(wc -l <"$run/access.log")
    before=$(date +%s.%N)
    (cd "$folder" && /usr/bin/time -f '%e %U %S' -o "$run/time.txt" timeout 900 "$@" >"$run/out.txt" 2>&1) ||
        { echo "run.sh: failed: $*" >&2; cat "$run/out.txt" >&2; exit 1; }
    after=$(date +%s.%N)
    request=$(tail -n +"$((log_lines + 1))" "$run/access.log" | awk '$3 == 200' | tail -n 1)
    [[ -n $request ]] || { echo "run.sh: no download in the access log for: $*" >&2; exit 1; }
    read -r end length _ <<<"$request"
    awk -v b="$before" -v a="$after" -v e="$end" -v l="$length" -v t="$(cat "$run/time.txt")" \
        'BEGIN { split(t, f, " "); printf "%s %s %s %.3f %.3f %.3f\n", f[1], f[2], f[3], e - l - b, l, a - e }'
}

ours() { # size folder
    timed "$2" env QT_QPA_PLATFORM=offscreen "./$updater_name" VER=1.0
}

line_command() { # size
    echo "curl -fsS -o Updates/acme.zip $base/acme-$1.zip && bsdtar -xf Updates/acme.zip -C . && ./$app_name Upd=1"
}

theirs() { # size folder
    timed "$2" bash -c "$(line_command "$1")"
}

if [[ $mode == replace ]]; then
    echo "== replacing the installed tree with the package's files, five ways in turn"
    for place in "${places[@]}"; do
        folder=${folder_of[$place]}
        for size in "${sizes[@]}"; do
            for round in $(seq "$pairs"); do
                for how in unlink rename exchange bsdtar bsdtar-safe-writes; do
                    fresh_copy "$size" "$folder"
                    if [[ $how == bsdtar* ]]; then
                        options=()
                        [[ $how == bsdtar-safe-writes ]] && options=(--safe-writes)
                        /usr/bin/time -f '%e %U %S' -o "$run/time.txt" \
                            bsdtar "${options[@]}" -xf "$work/www/acme/Produccion/acme-$size.zip" -C "$folder"
                        echo "$place $size $round $how $(awk '{ printf "%.3f %.3f", $1, $2 + $3 }' "$run/time.txt")"
                        continue
                    fi
                    result=$(python3 - "$how" "$work/packages/$size/new" "$folder" <<'PY'
import ctypes, os, resource, sys, time
libc = ctypes.CDLL(None, use_errno=True)
AT_FDCWD, RENAME_EXCHANGE = -100, 2
def write(path, data):
    fd = os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644)
    view = memoryview(data)
    while view: view = view[os.write(fd, view[:262144]):]
    os.close(fd)
how, new, target = sys.argv[1:4]
files = []
for folder, _, names in os.walk(new):
    for name in names:
        source = os.path.join(folder, name)
        files.append((os.path.join(target, os.path.relpath(source, new)), open(source, 'rb').read()))
before, start = resource.getrusage(resource.RUSAGE_SELF), time.time()
for path, data in files:
    temporary = os.path.join(os.path.dirname(path), '.zlt-probe.tmp')
    if how == 'unlink':
        os.unlink(path)
        write(path, data)
    else:
        write(temporary, data)
        if how == 'rename':
            os.rename(temporary, path)
        else:
            if libc.renameat2(AT_FDCWD, temporary.encode(), AT_FDCWD, path.encode(), RENAME_EXCHANGE) != 0:
                raise OSError(ctypes.get_errno(), 'renameat2')
            os.unlink(temporary)
after, end = resource.getrusage(resource.RUSAGE_SELF), time.time()
cpu = after.ru_utime + after.ru_stime - before.ru_utime - before.ru_stime
print('%s %.3f %.3f' % (how, end - start, cpu))
PY
)
                    echo "$place $size $round $result"
                done
            done
        done
    done | tee "$run/replace.txt"
    python3 - "$run/replace.txt" <<'PY'
import statistics as st, sys
runs = {}
for place, size, _, how, wall, cpu in (line.split() for line in open(sys.argv[1])):
    runs.setdefault((place, size), {}).setdefault(how, []).append((float(wall), float(cpu)))
print('Medians; the ratios are to "unlink".')
print()
print('| Place | Package | Way | Wall (s) | CPU (s) | Wall / unlink | CPU / unlink |')
print('|---|---|---|---|---|---|---|')
for (place, size), ways in runs.items():
    base = [st.median(x[i] for x in ways['unlink']) for i in (0, 1)]
    for how in ('unlink', 'rename', 'exchange', 'bsdtar', 'bsdtar-safe-writes'):
        wall, cpu = (st.median(x[i] for x in ways[how]) for i in (0, 1))
        print('| %s | %s | %s | %.2f | %.2f | %.2f | %.2f |' % (place, size, how, wall, cpu, wall / base[0], cpu / base[1]))
PY
    exit 0
fi

if [[ $mode == profile ]]; then
    size=${sizes[0]}
    folder=${folder_of[${places[0]}]}
    rm -f "$work"/perf.data* "$work"/probes.data* "$work"/callgrind.out
    curl -s -o /dev/null "$base/acme-$size.zip"
    echo "== perf record (cpu-clock, 2000 Hz, DWARF call graphs) of one updater run, $size package, ${places[0]}"
    fresh_copy "$size" "$folder"
    (cd "$folder" && QT_QPA_PLATFORM=offscreen timeout 600 perf record -q -e cpu-clock -F 2000 \
        --call-graph dwarf,16384 -o "$work/perf.data" "./$updater_name" VER=1.0 >/dev/null 2>&1)
    check_updated "$size" "$folder" updater
    echo "-- samples by activity: each sample goes to the first rule that its call stack matches"
    perf script -i "$work/perf.data" -F comm,tid,time,ip,sym 2>/dev/null >"$run/perf.txt"
    python3 - "$run/perf.txt" "$updater_name" <<'PY'
import collections, re, sys
samples, current = [], None
for line in open(sys.argv[1], errors='replace'):
    if not line.strip():
        if current: samples.append(current)
        current = None
    elif not line[0].isspace():
        m = re.match(r'(.*?)\s+(\d+)\s+([\d.]+):', line)
        current = {'comm': m.group(1).strip(), 'time': float(m.group(3)), 'stack': ''}
    elif current is not None:
        parts = line.split(None, 1)
        current['stack'] += (parts[1] if len(parts) > 1 else parts[0])
if current: samples.append(current)
program = sys.argv[2][:15]  # the kernel keeps 15 characters of a thread's name
rules = [(name, re.compile(pattern)) for name, pattern in [
    ('progress bar repaints during the installation (UnZipperArchiveProgress)', r'UnZipperArchiveProgress'),
    ('progress bar repaints during the download (OnProgressEvent, DoWork)', r'wupPelmoraUpdaProgressEvent|TZLTWebUpdater::DoWork'),
    ('installation: the confirmation handlers', r'UnZipperConfirm'),
    ('installation: putting the new file in place (RenameOver, rename)', r'filesystem::rename|RenameOver|ReplaceFile|renameat2'),
    ('installation: existence and identity checks', r'filesystem::(symlink_status|equivalent|exists)'),
    ('installation: working folder switches (fchdir)', r'fchdir'),
    ('installation: counting pass and central directory (Open)', r'TZLTUnZipper::Open'),
    ('installation: libarchive reading and writing', r'ExtractFiles'),
    ('download (libcurl, writing the package)', r'FetchPackage|curl_|Curl_'),
    ('stopping the application (process scan)', r'StopApplication|FindProcess'),
    ('starting the program', r'ShellExecuteOpen|startDetached'),
    ('leftover scan of the whole folder before the download (RemoveLeftovers)', r'RemoveLeftovers|RemoveStaleTemporaries'),
    ('drawing the window icon', r'DrawUpdaterIcon'),
    ('window creation and first paint', r'TfrmMainUpdater_|QWidget::show|QWidget::setVisible|QWidget::repaint'),
    ('start-up: QApplication, fonts, single-copy check', r'RunStartup|QApplication|CountProcess'),
    ('process start (loader, relocations)', r'_dl_|execve|dl_main'),
]]
counts = collections.Counter()
main_times = {}
for s in samples:
    if s['comm'].startswith('Thread (pooled'):
        counts['Qt thread pool workers (raster fills of the paints)'] += 1
        continue
    if s['comm'] != program:
        counts['other process: ' + s['comm']] += 1
        continue
    for name, pattern in rules:
        if pattern.search(s['stack']):
            counts[name] += 1
            main_times.setdefault(name, []).append(s['time'])
            break
    else:
        counts['other'] += 1
total = sum(counts.values())
for name, n in counts.most_common():
    print('%6.1f%% %6d  %s' % (100.0 * n / total, n, name))
print('%6s %6d  samples (%.2f s at 2000 Hz)' % ('', total, total / 2000.0))
repaints = main_times.get(rules[0][0], [])
pool = [s['time'] for s in samples if s['comm'].startswith('Thread (pooled')]
if repaints and pool:
    inside = sum(1 for t in pool if min(repaints) <= t <= max(repaints))
    print('thread pool samples while the installation repaints: %d of %d' % (inside, len(pool)))
PY
    echo "-- self, by process, library and function"
    perf report -i "$work/perf.data" --no-children -g none --sort comm,dso,sym --percent-limit 0.7 --stdio 2>/dev/null |
        grep -E '^ +[0-9]' | awk 'NR <= 20'
    # Wall time, waits included, inside the steps: user probes on the entry and the return of
    # a few functions of this run's copy of the updater (only that file is probed).
    echo "== wall time inside the steps (uprobes), one more run"
    fresh_copy "$size" "$folder"
    steps=(RunUpdate FetchPackage ExtractFiles UnZipperArchiveProgress)
    probes=1
    for step in "${steps[@]}"; do
        address=$(nm "$folder/$updater_name" | awk -v s="$step" '!found && $2 == "T" && $3 ~ s "E" { print "0x" $1; found = 1 }')
        [[ -n $address ]] || { echo "run.sh: no symbol for $step in the updater" >&2; exit 1; }
        perf probe -q -x "$folder/$updater_name" -a "zltbench:${step}=$address" -a "zltbench:${step}_end=$address%return"
    done
    (cd "$folder" && QT_QPA_PLATFORM=offscreen timeout 600 perf record -q -e 'zltbench:*' \
        -o "$work/probes.data" "./$updater_name" VER=1.0 >/dev/null 2>&1)
    perf probe -q -d 'zltbench:*'
    probes=
    check_updated "$size" "$folder" updater
    perf script -i "$work/probes.data" -F time,event 2>/dev/null | python3 -c '
import collections, sys
open_at, total, count = {}, collections.Counter(), collections.Counter()
for line in sys.stdin:
    fields = line.replace(":", " ").split()
    if len(fields) < 3: continue
    when, step = float(fields[0]), fields[2]
    if step.endswith("__return"):
        step = step[:-len("__return")].removesuffix("_end")
        if step in open_at:
            total[step] += when - open_at.pop(step)
            count[step] += 1
    else:
        open_at[step] = when
for step in sys.argv[1:]:
    print("%10.3f s %6d calls  %s" % (total[step], count[step], step))
' "${steps[@]}"
    if [[ ${ZLT_BENCH_CALLGRIND:-1} == 0 ]]; then
        echo "perf data: $work/perf.data"
        exit 0
    fi
    echo "== callgrind of one updater run, $size package, ${places[0]}"
    fresh_copy "$size" "$folder"
    (cd "$folder" && QT_QPA_PLATFORM=offscreen ZLT_STALL_TIMEOUT_MS=600000 timeout 1800 valgrind -q \
        --tool=callgrind --callgrind-out-file="$work/callgrind.out" "./$updater_name" VER=1.0 >/dev/null 2>&1)
    check_updated "$size" "$folder" updater
    echo "-- inclusive instructions of the main steps"
    callgrind_annotate --inclusive=yes --threshold=100 "$work/callgrind.out" 2>/dev/null |
        grep -E 'PROGRAM TOTALS|RunUpdate|FetchPackage|ExtractFiles|UnZipperArchiveProgress|wupPelmoraUpdaProgressEvent|TZLTWebUpdater::DoWork|QWidget::repaint\(\)|QProgressBar::paintEvent|TfrmMainUpdater_::TfrmMainUpdater_|QApplication::QApplication|StopApplication|ShellExecuteOpen|archive_read_data_block|archive_write_data_block|archive_read_next_header|archive_write_header|filesystem::rename|fchdir' |
        awk '!seen[$0]++' | awk 'NR <= 40'
    echo "-- calls"
    python3 - "$work/callgrind.out" <<'PY'
import re, sys
names, calls = {}, {}
def name(token):
    m = re.match(r'\((\d+)\)(?: (.*))?', token)
    if not m: return token
    if m.group(2): names[m.group(1)] = m.group(2)
    return names.get(m.group(1), token)
callee = None
for line in open(sys.argv[1], errors='replace'):
    if line.startswith('cfn='):
        callee = name(line[4:].strip())
    elif line.startswith('fn='):
        name(line[3:].strip())
    elif line.startswith('calls=') and callee:
        calls[callee] = calls.get(callee, 0) + int(line[6:].split()[0])
wanted = re.compile(r'QWidget::repaint\(\)|QProgressBar::paintEvent|QProgressBar::setValue|QWidget::update\(\)'
                    r'|SetBarPosition|UnZipperArchiveProgress|wupPelmoraUpdaProgressEvent|TZLTWebUpdater::DoWork'
                    r'|archive_read_next_header|archive_read_data_block|archive_write_data_block'
                    r'|QThreadPool::start|TWorkingFolder::(Enter|Leave)|filesystem::rename')
for callee, n in sorted(calls.items(), key=lambda item: -item[1]):
    if wanted.search(callee): print('%10d  %s' % (n, callee))
PY
    echo "perf data: $work/perf.data; callgrind data: $work/callgrind.out"
    exit 0
fi

# Warm the server's page cache with each package once, outside the figures.
for size in "${sizes[@]}"; do curl -s -o /dev/null "$base/acme-$size.zip"; done

# The restarted program alone, for reference: the line runs it in the foreground and counts it,
# the updater starts it detached and does not.
fresh_copy "${sizes[0]}" "${folder_of[${places[0]}]}"
app_alone=$(cd "${folder_of[${places[0]}]}" && /usr/bin/time -f '%e %U %S' "./$app_name" Upd=1 2>&1 >/dev/null | tail -n 1)

uptime_before=$(uptime)
samples=$run/samples.txt
: >"$samples"
for place in "${places[@]}"; do
    folder=${folder_of[$place]}
    for size in "${sizes[@]}"; do
        for pair in $(seq "$pairs"); do
            fresh_copy "$size" "$folder"
            load=$(cut -d' ' -f1 /proc/loadavg)
            result=$(ours "$size" "$folder")
            echo "$place $size $pair ours $load $result" | tee -a "$samples"
            check_updated "$size" "$folder" updater
            fresh_copy "$size" "$folder"
            load=$(cut -d' ' -f1 /proc/loadavg)
            result=$(theirs "$size" "$folder")
            echo "$place $size $pair line $load $result" | tee -a "$samples"
            check_updated "$size" "$folder" "the line"
        done
        rm -rf "$folder"
    done
done
uptime_after=$(uptime)

figures=$run/figures.md
{
    echo "- Measured: $measured"
    echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
    ((warm == 0)) || echo "- Memory warmed before every timed run: $warm GiB written to /dev/shm and freed again"
    echo "- Machine: $(nproc) CPUs, $(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)," \
        "$(awk '/MemTotal/ { printf "%.0f GiB", $2 / 1048576 }' /proc/meminfo) RAM, $(uname -r); disk:" \
        "$(findmnt -n -o FSTYPE,OPTIONS --target "$work" | awk '{ split($2, o, ","); print $1 " (" o[1] "," o[2] "," o[3] ")" }'), shared with other builds; tmpfs: /dev/shm"
    echo "- uptime before: \`${uptime_before# }\`; after: \`${uptime_after# }\`"
    echo "- $(curl --version | head -n 1 | cut -d' ' -f1-2), $(bsdtar --version | cut -d' ' -f1-2)," \
        "nginx $(nginx -v 2>&1 | cut -d/ -f2), Qt $(qtpaths6 --qt-version 2>/dev/null || echo 6), $pairs pairs per size and place"
    echo "- Ours: \`cd APPDIR && /usr/bin/time -f '%e %U %S' env QT_QPA_PLATFORM=offscreen ./$updater_name VER=1.0\`"
    echo "- The line: \`cd APPDIR && /usr/bin/time -f '%e %U %S' bash -c '$(line_command SIZE | sed "s|$base|http://127.0.0.1:PORT/acme/Produccion|")'\`"
    echo "- The restarted program alone (counted in the line's figures, not in ours):" \
        "wall, user, sys = $app_alone s"
    echo
} >"$figures"
python3 - "$samples" >>"$figures" <<'PY'
import statistics as st, sys
label = {'100m': '100 MiB', '1g': '1 GiB'}
# place size pair side load wall user sys to-request download after
rows = [line.split() for line in open(sys.argv[1])]
runs, order = {}, []
for r in rows:
    if (r[0], r[1]) not in order: order.append((r[0], r[1]))
    runs.setdefault((r[0], r[1], r[3]), []).append([float(x) for x in r[4:]])
cpu = lambda r: r[2] + r[3]
print("Median of the pairs' ratios (ours / the line), lowest and highest in brackets; wall: ours less")
print('the 2.0 s of set waiting (1 s timer, 1 s pause).')
print()
print('| Package | Place | Pairs | CPU ratio | Wall ratio (ours - 2 s) | Wall ratio (as measured) | Load (1 min) |')
print('|---|---|---|---|---|---|---|')
for place, size in order:
    ours, line = runs[(place, size, 'ours')], runs[(place, size, 'line')]
    c = [cpu(o) / cpu(l) for o, l in zip(ours, line)]
    w = [(o[1] - 2.0) / l[1] for o, l in zip(ours, line)]
    raw = [o[1] / l[1] for o, l in zip(ours, line)]
    loads = [r[0] for r in ours + line]
    print('| %s | %s | %d | **%.2f** (%.2f-%.2f) | **%.2f** (%.2f-%.2f) | %.2f | %.2f-%.2f |' % (
        label[size], place, len(c), st.median(c), min(c), max(c), st.median(w), min(w), max(w),
        st.median(raw), min(loads), max(loads)))
print()
print('Medians of the runs, in seconds. "To request": from the start to the start of the download as')
print('nginx logs it; "download": the request in nginx\'s log; "after": from its end to the end of the')
print('run (ours: the end of the transfer, the installation, starting the program; the line: bsdtar and')
print('the program).')
print()
print('| Package | Place | Side | Wall | User | Sys | CPU | To request | Download | After |')
print('|---|---|---|---|---|---|---|---|---|---|')
for place, size in order:
    for side, name in (('ours', 'updater'), ('line', 'curl + bsdtar + program')):
        rs = runs[(place, size, side)]
        m = lambda i: st.median([r[i] for r in rs])
        print('| %s | %s | %s | %.2f | %.2f | %.2f | %.2f | %.3f | %.3f | %.3f |' % (
            label[size], place, name, m(1), m(2), m(3), st.median([cpu(r) for r in rs]), m(4), m(5), m(6)))
print()
print('<details><summary>Every run: place, size, pair, side, load, wall, user, sys, to request, download, after</summary>')
print()
print('```')
for r in rows: print(' '.join(r))
print('```')
print()
print('</details>')
PY

# The figures replace the part between the markers; the rest of RESULTS.md stays as it is.
begin="<!-- $label: written by run.sh -->"
end="<!-- end of $label -->"
if [[ -f $results ]] && grep -qF "$begin" "$results"; then
    python3 - "$results" "$figures" "$begin" "$end" <<'PY'
import sys
path, figures, begin, end = sys.argv[1:]
text = open(path).read()
head, rest = text.split(begin, 1)
tail = rest.split(end, 1)[1]
open(path, 'w').write(head + begin + '\n' + open(figures).read() + end + tail)
PY
elif [[ -f $results ]]; then
    { echo; echo "## $label"; echo; echo "$begin"; cat "$figures"; echo "$end"; } >>"$results"
else
    { echo "# Update run benchmark"; echo; echo "$begin"; cat "$figures"; echo "$end"; } >"$results"
fi
cat "$figures"
