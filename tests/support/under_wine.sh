#!/bin/sh
# Runs one Windows test program under Wine for ctest, with its output through a file. The
# services and the desktop that Wine starts on demand live as long as the wine server and keep
# the descriptors of the program that started them: a pipe handed to the program would stay open
# after it ended, and ctest would wait for it until the timeout. A program that hangs is stopped
# before ctest's timeout (1200 s), so that its output up to the hang still reaches the log.
out=$(mktemp "${TMPDIR:-/tmp}/zlt-wine-test.XXXXXX") || exit 1
trap 'rm -f "$out"' EXIT
timeout -k 10 1150 wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
[ "$rc" -eq 124 ] && echo "under_wine.sh: $1 did not end within 1150 s and was stopped"
exit $rc
