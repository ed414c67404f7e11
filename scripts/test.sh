#!/usr/bin/env bash
# Installs what the build and the tests need, builds, and runs every test program. The tests
# start their own servers (nginx, php, tinyproxy, the fault server) on free loopback ports.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "${ZLT_SKIP_INSTALL:-0}" != 1 ]; then bash scripts/install-deps.sh; fi
BUILD=${ZLT_BUILD_DIR:-build}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${ZLT_CMAKE_ARGS:-}
cmake --build "$BUILD" -j "$(nproc)"
ctest --test-dir "$BUILD" --output-on-failure -j 2
