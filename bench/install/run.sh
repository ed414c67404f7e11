#!/bin/bash
# Package installation: our extractor (atomic writes, progress handler) against `bsdtar -xf`,
# each into an empty folder, measured side by side in one run. The package is made here with
# zip: 3000 small files in 90 folders and one 200 MB file (half random, half text).
#
#   bench/install/run.sh            build, make the package, measure, print the ratio
#
# Environment: BUILD (build folder, default build-bench in the repository, configured as Release
# when new; an existing one keeps its settings), WORK (scratch
# folder, default a new one under /tmp, removed at the end), RUNS (hyperfine runs, default 5),
# GOAL (the ratio to meet, default 1.25).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BUILD=${BUILD:-$ROOT/build-bench}
RUNS=${RUNS:-5}
GOAL=${GOAL:-1.25}
if [[ -z "${WORK:-}" ]]; then
    WORK=$(mktemp -d /tmp/zlt-bench-install-XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi

for tool in zip bsdtar hyperfine python3 cmake; do
    command -v "$tool" >/dev/null || { echo "needs $tool" >&2; exit 2; }
done

echo "== building zlt_install_bench in $BUILD"
if [[ ! -f $BUILD/CMakeCache.txt ]]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DZLT_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$BUILD" -j2 --target zlt_install_bench >/dev/null
BENCH=$BUILD/bin/zlt_install_bench

PACKAGE=$WORK/package.zip
if [[ ! -f $PACKAGE ]]; then
    echo "== making the package in $WORK"
    python3 - "$WORK/src" <<'EOF'
import os, random, sys
root = sys.argv[1]
random.seed(1)
words = [b'update', b'package', b'installer', b'version', b'folder', b'file', b'data', b'config']
for n in range(3000):
    folder = os.path.join(root, 'mod%02d' % (n % 30), 'sub%d' % (n % 3))
    os.makedirs(folder, exist_ok=True)
    size = random.randint(500, 8000)
    body = b' '.join(random.choice(words) for _ in range(size // 6 + 1))[:size]
    with open(os.path.join(folder, 'file%04d.dat' % n), 'wb') as f:
        f.write(body)
text = b''.join(b'record %08d of the application data\n' % i for i in range(2000))[:65536]
with open(os.path.join(root, 'big.bin'), 'wb') as f:
    for piece in range(200 * 16):  # 64 KiB each: 200 MiB
        f.write(os.urandom(65536) if piece % 2 else text)
EOF
    (cd "$WORK/src" && zip -q -r "$PACKAGE" .)
    rm -rf "$WORK/src"
fi
echo "package: $(du -h "$PACKAGE" | cut -f1), $(unzip -Z1 "$PACKAGE" | wc -l) entries"

OUT=$WORK/out
# Both must land the same tree, or the timing compares different work.
rm -rf "$OUT" "$WORK/check"; mkdir -p "$OUT" "$WORK/check"
"$BENCH" "$PACKAGE" "$OUT"
bsdtar -xf "$PACKAGE" -C "$WORK/check"
diff -r "$OUT" "$WORK/check" >/dev/null || { echo "the two trees differ" >&2; exit 2; }
rm -rf "$WORK/check"

echo "== timing ($RUNS runs each, warm cache, empty folder before every run)"
hyperfine --style basic --warmup 1 --runs "$RUNS" \
    --prepare "rm -rf '$OUT' && mkdir '$OUT'" \
    --command-name zlt_install_bench "'$BENCH' '$PACKAGE' '$OUT'" \
    --command-name "bsdtar -xf" "bsdtar -xf '$PACKAGE' -C '$OUT'" \
    --export-json "$WORK/times.json"

peak() { # peak resident memory of one run, in MiB
    rm -rf "$OUT" && mkdir "$OUT"
    python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], check=True)
print("%.1f" % (resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss / 1024))' "$@"
}
OURS_MEM=$(peak "$BENCH" "$PACKAGE" "$OUT")
BSDTAR_MEM=$(peak bsdtar -xf "$PACKAGE" -C "$OUT")
rm -rf "$OUT"

python3 - "$WORK/times.json" "$OURS_MEM" "$BSDTAR_MEM" "$GOAL" <<'EOF'
import json, sys
results = json.load(open(sys.argv[1]))['results']
ours, bsdtar = results[0], results[1]
ratio = ours['mean'] / bsdtar['mean']
# The ratio of medians as well: one slow run on a busy machine moves a mean more.
median_ratio = ours['median'] / bsdtar['median']
print()
print('%-20s %9s %9s %12s' % ('', 'mean s', 'median s', 'peak MiB'))
print('%-20s %9.3f %9.3f %12s' % ('zlt_install_bench', ours['mean'], ours['median'], sys.argv[2]))
print('%-20s %9.3f %9.3f %12s' % ('bsdtar -xf', bsdtar['mean'], bsdtar['median'], sys.argv[3]))
goal = float(sys.argv[4])
verdict = lambda r: 'met' if r <= goal else 'NOT met'
print('ratio (ours / bsdtar): mean %.3f (%s), median %.3f (%s); goal: at most %.2f'
      % (ratio, verdict(ratio), median_ratio, verdict(median_ratio), goal))
EOF
