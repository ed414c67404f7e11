#!/usr/bin/env bash
# Refuses any function of product code (every folder but tests/ and bench/) longer than 60 lines,
# counted by clang-tidy's readability-function-size over the build's compile_commands.json.
# Usage: check-function-size.sh [BUILD_DIR]   (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
[ -f "$BUILD/compile_commands.json" ] || { echo "no $BUILD/compile_commands.json: configure the build first"; exit 1; }
mapfile -t files < <(git ls-files '*.cpp' | grep -vE '^(tests|bench)/' | grep -v '/win32/')
config='{Checks: "-*,readability-function-size", CheckOptions: [{key: readability-function-size.LineThreshold, value: 60}]}'
report=$(printf '%s\n' "${files[@]}" |
  xargs -P "$(nproc)" -n 4 clang-tidy -p "$BUILD" --quiet --config="$config" 2>/dev/null |
  grep -E 'readability-function-size|lines including' || true)
if [ -n "$report" ]; then
  echo "functions longer than 60 lines:"; echo "$report"; exit 1
fi
echo "every function of product code has at most 60 lines (${#files[@]} files)"
