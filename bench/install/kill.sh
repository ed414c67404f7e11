#!/bin/bash
# What a kill -9 during an installation leaves, and what the next run's recovery makes of it.
# A folder holding version 1.0 (3000 small files in 90 folders and one large file: 3001 files)
# is updated to version 2.0 (the same names, other bytes) by zlt_install_bench, which installs
# as the updater does; the process is killed at a random moment of the installation, and the
# folder is classified: wholly old, wholly new, or a mix of both versions, and whether files of
# the installation (.zlt-*) are left beside it;
# then `zlt_install_bench --recover` applies the journal as the next run does, and the folder is
# classified again.
#
#   bench/install/kill.sh            KILLS (default 20) kills; the figures on stdout
#
# Environment: BUILD (default build-bench, as run.sh), WORK (default a new folder under /tmp,
# removed at the end; on the disk you want to measure), KILLS, SEED (default 1).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
KILLS=${KILLS:-20}
SEED=${SEED:-1}
if [[ -z "${WORK:-}" ]]; then
    WORK=$(mktemp -d /tmp/zlt-bench-kill-XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi
for tool in python3 cmake; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done
if [[ ! -f $BUILD/CMakeCache.txt ]]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZLT_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target zlt_install_bench >/dev/null

python3 - "$BUILD/bin/zlt_install_bench" "$WORK" "$KILLS" "$SEED" <<'PY'
import hashlib, os, random, shutil, signal, subprocess, sys, time, zipfile

bench, work, kills, seed = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
random.seed(seed)

def make_version(name, marker):
    files = {}
    for n in range(3000):
        files['mod%02d/sub%d/file%04d.dat' % (n % 30, n % 3, n)] = (b'%s %d ' % (marker, n)) * random.randint(50, 400)
    files['big.bin'] = os.urandom(32 << 20)
    return files

def write_tree(folder, files):
    for name, data in files.items():
        path = os.path.join(folder, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)

def digest(files):
    return {name: hashlib.md5(data).hexdigest() for name, data in files.items()}

def state(folder, old, new):
    seen, left = {}, 0
    for base, dirs, names in os.walk(folder):
        dirs[:] = [d for d in dirs if os.path.relpath(os.path.join(base, d), folder) != 'Updates']
        for name in names:
            if name.startswith('.zlt-'):
                left += 1
                continue
            rel = os.path.relpath(os.path.join(base, name), folder)
            with open(os.path.join(base, name), 'rb') as f:
                seen[rel] = hashlib.md5(f.read()).hexdigest()
    version = 'old' if seen == old else 'new' if seen == new else 'mix'
    return version + (' +%d .zlt-* files' % left if left else '')

v1, v2 = make_version('1', b'one'), make_version('2', b'two')
old, new = digest(v1), digest(v2)
template = os.path.join(work, 'template')
write_tree(template, v1)
package = os.path.join(work, 'package.zip')
with zipfile.ZipFile(package, 'w', zipfile.ZIP_DEFLATED) as z:
    for name, data in sorted(v2.items()):
        z.writestr(name, data)

def fresh(name):
    folder = os.path.join(work, name)
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(template, folder)
    os.sync()
    return folder

# How long one whole installation takes, to draw the moments from.
folder = fresh('timing')
start = time.monotonic()
subprocess.run([bench, package, folder], check=True)
whole = time.monotonic() - start
assert state(folder, old, new) == 'new', state(folder, old, new)
print('one installation: %.2f s; %d kills at random moments of it' % (whole, kills))

counts = {'after the kill': {'old': 0, 'new': 0, 'mix': 0, 'left': 0},
          'after the recovery': {'old': 0, 'new': 0, 'mix': 0, 'left': 0}}
for k in range(kills):
    folder = fresh('killed')
    moment = random.uniform(0, whole)
    child = subprocess.Popen([bench, package, folder])
    time.sleep(moment)
    child.send_signal(signal.SIGKILL)
    child.wait()
    before = state(folder, old, new)
    subprocess.run([bench, '--recover', folder], check=True, stdout=subprocess.DEVNULL)
    after = state(folder, old, new)
    for when, seen in (('after the kill', before), ('after the recovery', after)):
        counts[when][seen.split()[0]] += 1
        counts[when]['left'] += '.zlt-' in seen
    print('kill %2d at %.2f s: %s, then %s' % (k + 1, moment, before, after))
print()
for when, c in counts.items():
    print('%-20s wholly old %2d, wholly new %2d, mixed %2d; with .zlt-* files left %2d'
          % (when, c['old'], c['new'], c['mix'], c['left']))
PY
