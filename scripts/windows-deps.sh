#!/usr/bin/env bash
# Builds the Windows (x86-64, mingw-w64) dependencies from Debian's own source packages, each into
# its own prefix outside the clone:
#   qt          Qt Core, Gui and Widgets as DLLs (the LGPL's usual form), with the windows and
#               offscreen platform plugins, the image plugins gif, ico, jpeg and tiff (bmp is
#               built into Gui) and the Windows style
#   curl        libcurl, static, Schannel, HTTP only
#   archive     libarchive, static, zlib and CNG only
#   sodium      libsodium, static
#   gtest       GoogleTest, static
# A prefix is named by its dependency, its source version and a key over its recipe (the shell
# function below), the compiler, zlib and the toolchain file, so that changing one recipe
# rebuilds that dependency only. A prefix is reused when its stamp is there; the stamp is written
# only after a complete build and install. Stale prefixes of the same dependency are removed.
# Prints the prefixes, separated by ';', on its last line. Needs the packages that
# scripts/test-windows.sh installs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${ZLT_JOBS:-2}
cache=${ZLT_WIN_CACHE:-/var/cache/zlt-win}
work_root=${ZLT_WIN_WORK:-/var/tmp/zlt-win-work}

srcver() { apt-cache showsrc "$1" | awk '/^Package:/{p=$2} /^Version:/{if (p=="'"$1"'") print $2}' | sort -V | tail -1; }
cc_v=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
zlib_v=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)

# A step's output goes to its log; when the step fails, the log's first errors and its end are shown.
quiet() {
  local log=$1; shift
  "$@" >"$log" 2>&1 && return
  { echo "failed: $* (log: $PWD/$log)"; grep -m 20 -E 'FAILED:|error' "$log"; echo ...; tail -20 "$log"; } >&2
  exit 1
}
# zlib's static library, never its DLL's import library: libarchive and libcurl would otherwise
# be built to call zlib1.dll.
cmake_common() {
  echo -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DZLIB_USE_STATIC_LIBS=ON
}

recipe_gtest() {
  quiet gtest.log cmake -S /usr/src/googletest -B gtest $(cmake_common) -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=ON
  quiet gtest-build.log nice -n 10 cmake --build gtest -j "$jobs" --target install
}

recipe_curl() {
  quiet curl.log cmake -S curl-*/ -B curl $(cmake_common) -DBUILD_SHARED_LIBS=OFF -DCURL_USE_SCHANNEL=ON \
    -DCURL_USE_OPENSSL=OFF -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_NGHTTP2=OFF -DBUILD_CURL_EXE=OFF \
    -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_ZLIB=ON
  quiet curl-build.log nice -n 10 cmake --build curl -j "$jobs" --target install
}

recipe_archive() {
  quiet archive.log cmake -S libarchive-*/ -B archive $(cmake_common) -DBUILD_SHARED_LIBS=OFF -DENABLE_CNG=ON \
    -DENABLE_OPENSSL=OFF -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF \
    -DENABLE_LZ4=OFF -DENABLE_BZip2=OFF -DENABLE_LIBB2=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF \
    -DENABLE_WIN32_XMLLITE=OFF -DENABLE_ICONV=OFF -DENABLE_LZO=OFF -DENABLE_PCREPOSIX=OFF \
    -DENABLE_PCRE2POSIX=OFF -DENABLE_ACL=OFF -DENABLE_XATTR=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF \
    -DENABLE_CAT=OFF -DENABLE_TEST=OFF -DENABLE_INSTALL=OFF
  quiet archive-build.log nice -n 10 cmake --build archive -j "$jobs" --target archive_static
  mkdir -p "$prefix/include" "$prefix/lib"
  cp libarchive-*/libarchive/archive.h libarchive-*/libarchive/archive_entry.h "$prefix/include/"
  cp archive/libarchive/libarchive_static.a "$prefix/lib/libarchive.a"
}

recipe_sodium() {
  # The source package is the release tag, without a generated configure script.
  cd libsodium-*/
  quiet ../sodium-autogen.log autoreconf -fi
  quiet ../sodium.log ./configure --host=x86_64-w64-mingw32 --prefix="$prefix" --disable-shared --enable-static \
    --with-pic CC=x86_64-w64-mingw32-gcc-posix CFLAGS="-O2"
  quiet ../sodium-build.log nice -n 10 make -j "$jobs" install
  cd ..
}

# Qt: dynamic OpenGL (the windows platform plugin needs it to build), no Direct2D; DirectWrite 3
# goes with Direct2D (Gui builds its font database only with both, the plugin asks for it alone),
# and the windows plugin's default font database is GDI's anyway.
recipe_qt() {
  quiet qt.log cmake -S qt6-base-*/ -B qt $(cmake_common) -DBUILD_SHARED_LIBS=ON -DQT_HOST_PATH=/usr \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_tabletevent=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF \
    -DFEATURE_xml=OFF -DFEATURE_dbus=OFF -DFEATURE_testlib=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_opengl=ON -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF \
    -DFEATURE_vulkan=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_harfbuzz=OFF -DFEATURE_pkg_config=OFF
  # -k 0: one failed run shows every file that does not build, not only the first.
  quiet qt-build.log nice -n 10 cmake --build qt -j "$jobs" -- -k 0
  quiet qt-install.log cmake --install qt
  # TIFF lives in the image formats module; only its plugin, with the bundled libtiff.
  quiet qtif.log cmake -S qt6-imageformats-*/ -B qtif $(cmake_common) -DBUILD_SHARED_LIBS=ON \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DCMAKE_PREFIX_PATH="$prefix" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DFEATURE_tiff=ON -DFEATURE_system_tiff=OFF \
    -DFEATURE_webp=OFF -DFEATURE_jasper=OFF -DFEATURE_mng=OFF -DFEATURE_wbmp=OFF -DFEATURE_tga=OFF \
    -DFEATURE_icns=OFF -DFEATURE_macheif=OFF
  quiet qtif-build.log nice -n 10 cmake --build qtif -j "$jobs"
  quiet qtif-install.log cmake --install qtif
}

# name, source packages (the first one's version names the prefix)
deps=("gtest googletest" "curl curl" "archive libarchive" "sodium libsodium" "qt qt6-base qt6-imageformats")
prefixes=()
for entry in "${deps[@]}"; do
  read -r name packages <<<"$entry"
  versions=""
  for pkg in $packages; do
    if [ "$pkg" = googletest ]; then v=$(dpkg-query -W -f='${Version}' googletest); else v=$(srcver "$pkg"); fi
    [ -n "$v" ] || { echo "no source version for $pkg: enable deb-src first" >&2; exit 1; }
    versions="$versions $pkg=$v"
  done
  first=${versions# }; first=${first%% *}; first=${first#*=}
  key=$( { echo "$versions $cc_v $zlib_v"; declare -f cmake_common "recipe_$name"; cat "$toolchain"; } | sha256sum | cut -c1-12)
  prefix=$cache/$name-${first//[^A-Za-z0-9.+-]/_}-$key
  prefixes+=("$prefix")
  if [ -f "$prefix/.zlt-complete" ]; then
    echo "== Windows dependency $name: reusing $prefix" >&2
    continue
  fi
  echo "== Windows dependency $name:$versions, building into $prefix" >&2
  for stale in "$cache/$name"-*; do [ -d "$stale" ] && [ "$stale" != "$prefix" ] && rm -rf "$stale"; done
  rm -rf "$prefix"; mkdir -p "$prefix"
  # The work folder outlives a failed or interrupted build, so that the next run goes on where
  # this one stopped: it is named by the sources alone, so that a changed recipe reuses it too
  # and the build tools redo only what the change touches. It is removed once the dependency is
  # installed.
  work=$work_root/$name-${first//[^A-Za-z0-9.+-]/_}
  for stale in "$work_root/$name"-*; do [ -d "$stale" ] && [ "$stale" != "$work" ] && rm -rf "$stale"; done
  mkdir -p "$work"
  (
    cd "$work"
    sources=""
    for v in $versions; do [ "${v%%=*}" = googletest ] || sources="$sources $v"; done
    if [ -n "$sources" ] && [ "$(cat .sources 2>/dev/null)" != "$sources" ]; then
      find . -mindepth 1 -delete # other sources, or an unpacking cut short
      # shellcheck disable=SC2086
      apt-get source -qq $sources >apt-source.log 2>&1 || { cat apt-source.log >&2; exit 1; }
      echo "$sources" >.sources
    fi
    start=$SECONDS
    "recipe_$name"
    echo "-- $name built in $((SECONDS - start)) s" >&2
  ) || { echo "the work folder $work is kept: the next run goes on from there" >&2; exit 1; }
  rm -rf "$work"
  touch "$prefix/.zlt-complete"
done
# The old single prefix of earlier versions of this script.
for old in "$cache"/*; do
  [ -d "$old" ] && [[ "$(basename "$old")" =~ ^[0-9a-f]{16}$ ]] && rm -rf "$old"
done
(IFS=';'; echo "${prefixes[*]}")
