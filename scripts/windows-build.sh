#!/usr/bin/env bash
# Builds the updater for 64-bit Windows with mingw-w64 into build-win/ (ZLT_WIN_BUILD_DIR): the
# program, its deployable folder build-win/dist/ and the test programs. Works on a fresh Debian 12
# machine as root (or with sudo): installs its packages (unless ZLT_SKIP_INSTALL=1) and
# cross-builds the dependencies from Debian's source packages into prefixes outside the clone,
# reused when complete (scripts/windows-deps.sh).
# Sourced by scripts/test-windows.sh and scripts/demo-windows.sh; leaves BUILD (the build folder)
# and ZLT_WIN_PREFIX (the dependency prefixes, separated by ';') set.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
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
    cmake ninja-build dpkg-dev googletest qt6-base-dev autoconf automake libtool file \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 libz-mingw-w64-dev wine wine64 \
    nginx-light php-cli tinyproxy openssl ca-certificates zip unzip p7zip-full libarchive-tools python3 minisign \
    xvfb xauth imagemagick
  for svc in nginx tinyproxy; do $SUDO service "$svc" stop >/dev/null 2>&1 || true; done
fi

echo "== dependencies for Windows"
ZLT_WIN_PREFIX=$(bash scripts/windows-deps.sh | tail -1)
export ZLT_WIN_PREFIX

echo "== build for Windows"
BUILD=${ZLT_WIN_BUILD_DIR:-build-win}
# CMake keeps the paths of the prefixes it was configured with: other prefixes, another build.
if [ -f "$BUILD/zlt-prefix.txt" ] && [ "$(cat "$BUILD/zlt-prefix.txt")" != "$ZLT_WIN_PREFIX" ]; then rm -rf "$BUILD"; fi
mkdir -p "$BUILD" && echo "$ZLT_WIN_PREFIX" >"$BUILD/zlt-prefix.txt"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZLT_WERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DZLIB_USE_STATIC_LIBS=ON \
  >"$BUILD/configure.log" 2>&1 ||
  { tail -40 "$BUILD/configure.log"; exit 1; }
nice -n 10 cmake --build "$BUILD" -j "${ZLT_JOBS:-2}"

# The deployable folder: every file, and every DLL that any of them imports either in the
# folder or one of the system's own.
echo "== the deployable folder $BUILD/dist"
dist_ok=1
file -b "$BUILD/dist/updater.exe" | grep -q '^PE32+ executable (GUI) x86-64' ||
  { echo "updater.exe is not a 64-bit Windows GUI program: $(file -b "$BUILD/dist/updater.exe")"; dist_ok=0; }
file -b "$BUILD/dist/zlt-publish.exe" | grep -q '^PE32+ executable (console) x86-64' ||
  { echo "zlt-publish.exe is not a 64-bit Windows console program: $(file -b "$BUILD/dist/zlt-publish.exe")"; dist_ok=0; }
system_dlls=$(ls /usr/lib/x86_64-linux-gnu/wine/x86_64-windows/ | tr 'A-Z' 'a-z')
while IFS= read -r f; do
  printf '  %-40s %9d bytes\n' "${f#"$BUILD"/dist/}" "$(stat -c %s "$f")"
  for dll in $(x86_64-w64-mingw32-objdump -p "$f" | awk '/DLL Name:/{print $3}'); do
    lower=$(tr 'A-Z' 'a-z' <<<"$dll")
    if [ -e "$BUILD/dist/$dll" ]; then continue; fi
    # The system's DLLs: Wine's builtins stand for them. api-ms-win-* and ext-ms-* name API sets,
    # which the loader maps onto system DLLs (Windows 10 and later, as Qt 6 requires; Wine too).
    if grep -qxF "$lower" <<<"$system_dlls" || [[ "$lower" =~ ^(api|ext)-ms-win- ]]; then continue; fi
    echo "  ${f#"$BUILD"/dist/} needs $dll, which is neither in the folder nor a system DLL"; dist_ok=0
  done
done < <(find "$BUILD/dist" -type f | sort)
# The program's application manifest: it runs as its invoker, takes long paths, knows Windows 10
# and 11, and is aware of each monitor's DPI.
for declared in 'level="asInvoker"' '<longPathAware' '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}' '>PerMonitorV2<'; do
  grep -aqF "$declared" "$BUILD/dist/updater.exe" || { echo "updater.exe's manifest lacks $declared"; dist_ok=0; }
done
[ "$dist_ok" = 1 ] || { echo "the deployable folder is incomplete"; exit 1; }

# A Windows path for a Linux one, on Wine's drive Z: (the Linux root).
windows_path() { echo "Z:${1//\//\\}"; }

# Starts a fresh 64-bit Wine prefix in $1 with a wine server of its own (its process id in
# wineserver_pid; stop_wine ends it): no Mono or Gecko installers, and no waiting for a
# window manager that Xvfb does not have. $2, when given, names Wine's graphics driver ("null":
# real windows without a display); the server is started anew for it, since the desktop keeps
# the driver it started with.
start_wine() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
  mkdir -p "$WINEPREFIX"
  wineserver -f -p >>"$WINEPREFIX.wineserver.log" 2>&1 &
  wineserver_pid=$!
  timeout 300 wineboot --init >"$WINEPREFIX.wineboot.log" 2>&1
  timeout 120 wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$WINEPREFIX.reg.log" 2>&1
  # Tahoma and MS Sans Serif in the system's font folder, where Windows keeps them; Wine draws
  # its own from its data folder and leaves that folder empty.
  cp /usr/share/wine/fonts/{tahoma,tahomabd,ms_sans_serif}.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  if [ -n "${2:-}" ]; then
    timeout 120 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d "$2" /f >>"$WINEPREFIX.reg.log" 2>&1
    stop_wine
    wineserver -f -p >>"$WINEPREFIX.wineserver.log" 2>&1 &
    wineserver_pid=$!
  fi
}

# Ends the wine server that start_wine started and every Windows process of its prefix: the
# services and the desktop that Wine starts on demand would outlive a server killed by its
# process id, and go on taking time.
stop_wine() {
  [ -n "${wineserver_pid:-}" ] || return 0
  timeout 60 wineserver -k >/dev/null 2>&1 || true
  kill "$wineserver_pid" 2>/dev/null || true
  wait "$wineserver_pid" 2>/dev/null || true
  wineserver_pid=""
}
