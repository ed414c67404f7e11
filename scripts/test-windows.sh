#!/usr/bin/env bash
# The Windows leg: builds the lower layers (platform, common, http, install) and their test
# programs for 64-bit Windows with mingw-w64, and runs them under Wine. Works on a fresh Debian
# 12 machine as root (or with sudo): installs its packages, cross-builds the dependencies from
# Debian's source packages into a prefix outside the clone (reused when complete; see
# scripts/windows-deps.sh), starts its own wineserver and the Linux-side broker that runs the
# tests' servers and tools, and stops both by their process ids at the end.
# Fails unless ctest printed its summary and every test program printed GoogleTest's closing
# line: a program that never started under Wine must not pass for green.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

if [ "${ZLT_SKIP_INSTALL:-0}" != 1 ]; then
  echo "== packages"
  # Debian's source packages are the dependencies' sources.
  if ! grep -q '^Types:.*deb-src' /etc/apt/sources.list.d/debian.sources 2>/dev/null; then
    $SUDO sed -i 's/^Types: deb$/Types: deb deb-src/' /etc/apt/sources.list.d/debian.sources
  fi
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends \
    cmake ninja-build dpkg-dev googletest qt6-base-dev \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev wine wine64 autoconf automake libtool \
    nginx-light php-cli tinyproxy openssl ca-certificates zip unzip p7zip-full libarchive-tools python3
  for svc in nginx tinyproxy; do $SUDO service "$svc" stop >/dev/null 2>&1 || true; done
fi

echo "== dependencies for Windows"
prefix=$(bash scripts/windows-deps.sh | tail -1)
export ZLT_WIN_PREFIX=$prefix

echo "== build for Windows"
BUILD=${ZLT_WIN_BUILD_DIR:-build-windows}
# CMake keeps the paths of the prefix it was configured with: another prefix, another build.
if [ -f "$BUILD/zlt-prefix.txt" ] && [ "$(cat "$BUILD/zlt-prefix.txt")" != "$prefix" ]; then rm -rf "$BUILD"; fi
mkdir -p "$BUILD" && echo "$prefix" >"$BUILD/zlt-prefix.txt"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZLT_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DZLIB_USE_STATIC_LIBS=ON \
  >"$BUILD/configure.log" 2>&1 ||
  { tail -40 "$BUILD/configure.log"; exit 1; }
nice -n 10 cmake --build "$BUILD" -j "${ZLT_JOBS:-2}"

echo "== tests under Wine"
run=$(mktemp -d /tmp/zlt-win-run.XXXXXX)
wineserver_pid=""
broker_pid=""
finish() {
  # Only what this run started, by its process id.
  if [ -n "$broker_pid" ]; then kill "$broker_pid" 2>/dev/null || true; wait "$broker_pid" 2>/dev/null || true; fi
  if [ -n "$wineserver_pid" ]; then
    kill "$wineserver_pid" 2>/dev/null || true
    wait "$wineserver_pid" 2>/dev/null || true
  fi
  rm -rf "$run"
}
trap finish EXIT

export WINEPREFIX=$run/wine WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
unset DISPLAY # console programs only: no window, no display
mkdir -p "$run/temp"
wineserver -f -p >"$run/wineserver.log" 2>&1 &
wineserver_pid=$!
timeout 300 wineboot --init >"$run/wineboot.log" 2>&1
# Wine takes TEMP from the registry, not from the environment: the test programs' temporary
# folders must lie on drive Z: (the Linux root), where the Linux-side servers and tools see them.
wintemp="Z:${run//\//\\}\\temp"
timeout 120 wine reg add 'HKCU\Environment' /v TEMP /d "$wintemp" /f >"$run/reg.log" 2>&1
timeout 120 wine reg add 'HKCU\Environment' /v TMP /d "$wintemp" /f >>"$run/reg.log" 2>&1

python3 tests/support/broker.py "$run/broker.port" >"$run/broker.log" 2>&1 &
broker_pid=$!
for _ in $(seq 100); do [ -s "$run/broker.port" ] && break; sleep 0.1; done
[ -s "$run/broker.port" ] || { echo "the broker did not start"; cat "$run/broker.log"; exit 1; }
export ZLT_BROKER_PORT=$(cat "$run/broker.port")

status=0
# Output goes to a file: Wine's background processes keep a pipe open until the server ends.
ctest --test-dir "$BUILD" -V -j 2 --timeout 1200 >"$run/ctest.log" 2>&1 || status=$?
cp "$run/ctest.log" "$BUILD/ctest-windows.log"
grep -E '^[0-9]+: \[  (FAILED|SKIPPED) \]|^[0-9]+: \[ NOTE|tests passed|tests failed|^\s+[0-9]+ - |Test +#' "$run/ctest.log" || true

summary=$(grep -E '[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$run/ctest.log" || true)
if [ -z "$summary" ]; then echo "no ctest summary: the Windows tests did not run"; status=1; fi
# Every registered test program must have reached GoogleTest's closing line.
numbers=$(grep -oE '^ *Start +[0-9]+:' "$run/ctest.log" | grep -oE '[0-9]+' | sort -u)
[ -n "$numbers" ] || { echo "no test program started"; status=1; }
for n in $numbers; do
  if ! grep -qE "^$n: \[==========\] [0-9]+ tests? from [0-9]+ test suites? ran\." "$run/ctest.log"; then
    echo "test program #$n did not print GoogleTest's closing line"; status=1
  fi
done
echo "Windows: ${summary:-no summary}"
exit $status
