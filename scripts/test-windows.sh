#!/usr/bin/env bash
# The Windows leg: builds the updater, its deployable folder and every test program for 64-bit
# Windows with mingw-w64 (scripts/windows-build.sh), and runs the tests under Wine. Works on a
# fresh Debian 12 machine as root (or with sudo). Starts its own wineserver and the Linux-side
# broker that runs the tests' servers and tools, and stops both by their process ids at the end.
# Fails unless ctest printed its summary and every test program printed GoogleTest's closing
# line: a program that never started under Wine must not pass for green.
set -euo pipefail
# shellcheck source=scripts/windows-build.sh
source "$(dirname "$0")/windows-build.sh"

echo "== tests under Wine"
run=$(mktemp -d /tmp/zlt-win-run.XXXXXX)
wineserver_pid=""
broker_pid=""
finish() {
  # Only what this run started, by its process id.
  if [ -n "$broker_pid" ]; then kill "$broker_pid" 2>/dev/null || true; wait "$broker_pid" 2>/dev/null || true; fi
  stop_wine
  rm -rf "$run"
}
trap finish EXIT

unset DISPLAY # the window tests use the offscreen platform: no display
# The test programs find Qt's DLLs and the C++ runtime through Wine's search path, and Qt's
# plugins (offscreen among them) in Qt's prefix; the deployable folder needs neither.
qt_prefix=$(tr ';' '\n' <<<"$ZLT_WIN_PREFIX" | grep '/qt-')
runtime_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-file-name=libstdc++-6.dll)")
export WINEPATH="$(windows_path "$qt_prefix/bin");$(windows_path "$runtime_dir");$(windows_path /usr/x86_64-w64-mingw32/lib)"
# Wine hands no QT_* variable to Windows programs; WINEQT_* arrives as QT_*.
export WINEQT_PLUGIN_PATH=$(windows_path "$qt_prefix/plugins")
mkdir -p "$run/temp"
# Wine's graphics driver without a display: real windows with styles and sizes, drawn nowhere,
# for the tests that call the window functions themselves.
start_wine "$run/wine" null
# Wine takes TEMP from the registry, not from the environment: the test programs' temporary
# folders must lie on drive Z: (the Linux root), where the Linux-side servers and tools see them.
wintemp=$(windows_path "$run/temp")
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
