#!/usr/bin/env bash
# scripts/check-layout.sh against a small tree of clean files, with one rule broken at a time:
# every planted break must be refused with the file named, and every control row must pass.
set -euo pipefail
check="$(cd "$(dirname "$0")/../.." && pwd)/scripts/check-layout.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0

clean_tree() {
  rm -rf "$work/tree" && mkdir -p "$work/tree"
  for folder in app webupdater common http install signature ui platform platform/posix; do
    mkdir -p "$work/tree/$folder"
    printf '#include <QString>\n\nint Clean() { return 0; }\n' >"$work/tree/$folder/Clean.cpp"
  done
  printf '#include "common/Clean.h"\n#include "platform/Clean.h"\n' >"$work/tree/app/Includes.cpp"
  echo 'target_link_libraries(zlt_platform PUBLIC Qt6::Core)' >"$work/tree/platform/CMakeLists.txt"
}

# expect NAME FILE TEXT pass|fail: TEXT planted into FILE of a clean tree.
expect() {
  local name=$1 file=$2 text=$3 verdict=$4 output status=0
  clean_tree
  mkdir -p "$(dirname "$work/tree/$file")"
  printf '%b\n' "$text" >>"$work/tree/$file"
  output=$(bash "$check" "$work/tree" 2>&1) || status=$?
  if [ "$verdict" = fail ] && { [ $status -eq 0 ] || ! grep -qF "$file" <<<"$output"; }; then
    echo "FAILED: $name: not refused, or $file not named:"; echo "$output"; failures=$((failures + 1))
  elif [ "$verdict" = pass ] && [ $status -ne 0 ]; then
    echo "FAILED: $name: refused:"; echo "$output"; failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
}

expect "a clean tree" app/Clean.cpp '' pass
expect "#ifdef Q_OS_WIN in app/" app/Planted.cpp '#ifdef Q_OS_WIN\nint x;\n#endif' fail
expect "#if defined(_WIN32) in ui/" ui/Planted.cpp '#if defined(_WIN32) && 1\n#endif' fail
expect "an indented #ifndef Q_OS_LINUX in http/" http/Planted.cpp '  #  ifndef Q_OS_LINUX\n#endif' fail
expect "#elif __linux__ in common/" common/Planted.h '#if 0\n#elif __linux__\n#endif' fail
expect "#undef of a system macro in install/" install/Planted.cpp '#undef ReplaceFile' fail
expect "an operating-system header in signature/" signature/Planted.cpp '#include <windows.h>' fail
expect "an upward include in common/" common/Planted.cpp '#include "app/MainWindow.h"' fail
expect "platform/ linking widgets" platform/CMakeLists.txt 'target_link_libraries(zlt_platform PUBLIC Qt6::Widgets)' fail
expect "a conditional inside platform/" platform/Planted.cpp '#ifdef Q_OS_WIN\n#endif' pass
expect "an operating-system header inside platform/posix/" platform/posix/Planted.cpp '#include <unistd.h>' pass
expect "a comment that names Q_OS_WIN" app/Planted.cpp '// no Q_OS_WIN here: the platform decides' pass
expect "an own macro in a conditional" webupdater/Planted.cpp '#ifdef ZLT_TRACE\n#endif' pass

[ $failures -eq 0 ] || { echo "$failures case(s) failed"; exit 1; }
echo "every case holds"
