#!/usr/bin/env bash
# Fails when the layout's rules are broken:
#  1. Operating-system headers are included only under platform/.
#  2. Includes point downwards only: app -> webupdater -> http, install, signature -> common -> platform,
#     and ui is used by app and webupdater (ui itself uses common and platform); publish (zlt-publish)
#     uses signature, install, the check script's text of webupdater, common and platform, never ui.
#  3. platform/ uses QtCore at most.
#  4. Operating-system conditionals (Q_OS_*, _WIN32, __linux__, ...) and #undef of a system's
#     macro appear only under platform/: callers never test the system.
# Usage: check-layout.sh [ROOT]   (default: this repository)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
status=0
# Only the folders that are there: the layout's own test checks small trees.
product=$(for f in app webupdater common http install signature ui publish; do if [ -d "$f" ]; then echo "$f"; fi; done)

os_headers='#include <(unistd|fcntl|fnmatch|dirent|signal|ifaddrs|pwd|grp|dlfcn|windows|winsock2|ws2tcpip|tlhelp32|shellapi|shlwapi|wininet|winhttp|io|direct)\.h>|#include <(sys|net|netinet|arpa)/'
# shellcheck disable=SC2086 # the folders are words
if hits=$(grep -rnE "$os_headers" $product); then
  echo "Operating-system headers outside platform/:"; echo "$hits"; status=1
fi

declare -A allowed=(
  [platform]="platform"
  [common]="common platform"
  [ui]="ui common platform"
  [http]="http common platform"
  [install]="install common platform"
  [signature]="signature common platform"
  [webupdater]="webupdater http install signature ui common platform"
  [app]="app webupdater install http signature ui common platform"
  [publish]="publish webupdater install signature common platform"
)
for folder in "${!allowed[@]}"; do
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    target=$(sed -E 's/.*#include "([^/"]+)\/.*/\1/' <<<"$line")
    if ! grep -qw -- "$target" <<<"${allowed[$folder]}"; then
      echo "$folder/ may not include $target/: $line"; status=1
    fi
  done < <(grep -rnE '#include "[^"/]+/' "$folder" 2>/dev/null || true)
done

if hits=$(grep -rnE '#include <Q(Widget|Application|Gui|Painter|Label|ProgressBar|MessageBox|Font|Color|Pixmap|Image|Icon|Screen|Palette)' platform); then
  echo "platform/ uses more than QtCore:"; echo "$hits"; status=1
fi
if grep -n -E 'Qt6::(Gui|Widgets)' platform/CMakeLists.txt; then
  echo "platform/CMakeLists.txt: zlt_platform links more than Qt6::Core"; status=1
fi

os_conditional='^[[:space:]]*#[[:space:]]*((if|ifdef|ifndef|elif)\b.*\b(Q_OS_[A-Z0-9_]+|_WIN32|_WIN64|WIN32|WIN64|__linux__|__unix__|__APPLE__|__MACH__|_MSC_VER|__MINGW32__|__MINGW64__|__CYGWIN__|_POSIX_VERSION)\b|undef\b)'
# shellcheck disable=SC2086 # the folders are words
if hits=$(grep -rnE "$os_conditional" $product); then
  echo "Operating-system conditionals outside platform/:"; echo "$hits"; status=1
fi

[ $status -eq 0 ] && echo "layout: every rule holds"
exit $status
