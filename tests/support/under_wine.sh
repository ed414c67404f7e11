#!/bin/sh
# Runs one Windows test program under Wine for ctest, with its output through a file. The
# services and the desktop that Wine starts on demand live as long as the wine server and keep
# the descriptors of the program that started them: a pipe handed to the program would stay open
# after it ended, and ctest would wait for it until the timeout.
out=$(mktemp "${TMPDIR:-/tmp}/zlt-wine-test.XXXXXX") || exit 1
trap 'rm -f "$out"' EXIT
trap 'exit 143' TERM INT
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
exit $rc
