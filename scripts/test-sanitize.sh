#!/usr/bin/env bash
# The test suite built and run under AddressSanitizer and UndefinedBehaviorSanitizer, in
# build-sanitize/ (ZLT_BUILD_DIR). Memory errors and undefined behaviour stop the run. Installs
# nothing unless ZLT_SKIP_INSTALL=0: run scripts/test.sh or scripts/install-deps.sh once first.
set -euo pipefail
cd "$(dirname "$0")/.."
# Leak reports would name the toolkit's process-lifetime allocations.
# handle_segv=0: a program that crashes on purpose (the sample application on trial) must reach its
# parent as the signal it is, not as ASan's report and abort.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:abort_on_error=1:handle_segv=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ZLT_SKIP_INSTALL=${ZLT_SKIP_INSTALL:-1} ZLT_BUILD_DIR=${ZLT_BUILD_DIR:-build-sanitize} \
  ZLT_CMAKE_ARGS="-DZLT_SANITIZE=ON ${ZLT_CMAKE_ARGS:-}" bash scripts/test.sh
