#!/usr/bin/env bash
# Builds the Windows (x86-64, mingw-w64) dependencies from Debian's own source packages into a
# prefix outside the clone: Qt Core (static, no Gui), libcurl (static, Schannel, HTTP only),
# libarchive (static, zlib and CNG only) and GoogleTest. The prefix is keyed by the source
# versions, the compiler and this script with the toolchain file, and reused when its stamp is
# there; the stamp is written only after every dependency was built and installed.
# Prints the prefix on its last line. Needs the packages that scripts/test-windows.sh installs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
toolchain=$root/cmake/mingw-w64-x86_64.cmake
jobs=${ZLT_JOBS:-2}

srcver() { apt-cache showsrc "$1" | awk '/^Package:/{p=$2} /^Version:/{if (p=="'"$1"'") print $2}' | sort -V | tail -1; }
curl_v=$(srcver curl); archive_v=$(srcver libarchive); qt_v=$(srcver qt6-base)
gtest_v=$(dpkg-query -W -f='${Version}' googletest)
cc_v=$(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)
zlib_v=$(dpkg-query -W -f='${Version}' libz-mingw-w64-dev)
[ -n "$curl_v" ] && [ -n "$archive_v" ] && [ -n "$qt_v" ] || { echo "no deb-src entries: enable deb-src first" >&2; exit 1; }
key=$( { echo "$curl_v $archive_v $qt_v $gtest_v $cc_v $zlib_v"; cat "$0" "$toolchain"; } | sha256sum | cut -c1-16)
prefix=${ZLT_WIN_PREFIX:-/var/cache/zlt-win/$key}
stamp=$prefix/.zlt-complete

if [ -f "$stamp" ]; then
  echo "== Windows dependencies: reusing $prefix" >&2
  echo "$prefix"; exit 0
fi

echo "== Windows dependencies: building into $prefix (curl $curl_v, libarchive $archive_v, qtbase $qt_v)" >&2
rm -rf "$prefix"; mkdir -p "$prefix"
work=$(mktemp -d /var/tmp/zlt-win-deps.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"
apt-get source -qq "curl=$curl_v" "libarchive=$archive_v" "qt6-base=$qt_v" >apt-source.log 2>&1 || { cat apt-source.log >&2; exit 1; }
export ZLT_WIN_PREFIX=$prefix
# zlib's static library, never its DLL's import library: libarchive would otherwise be built
# to call zlib1.dll, and every program would need it beside itself.
common=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix"
        -DBUILD_SHARED_LIBS=OFF -DZLIB_USE_STATIC_LIBS=ON)
quiet() { local log=$1; shift; "$@" >"$log" 2>&1 || { tail -50 "$log" >&2; echo "failed: $*" >&2; exit 1; }; }

echo "-- GoogleTest" >&2
quiet gtest.log cmake -S /usr/src/googletest -B gtest "${common[@]}" -Dgtest_disable_pthreads=ON
quiet gtest-build.log nice -n 10 cmake --build gtest -j "$jobs" --target install

echo "-- libcurl" >&2
quiet curl.log cmake -S curl-*/ -B curl "${common[@]}" -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF \
  -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DUSE_LIBIDN2=OFF -DCURL_USE_LIBPSL=OFF -DCURL_BROTLI=OFF \
  -DCURL_ZSTD=OFF -DCURL_USE_LIBSSH2=OFF -DUSE_NGHTTP2=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
  -DENABLE_MANUAL=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_ZLIB=ON
quiet curl-build.log nice -n 10 cmake --build curl -j "$jobs" --target install

echo "-- libarchive" >&2
quiet archive.log cmake -S libarchive-*/ -B archive "${common[@]}" -DENABLE_CNG=ON -DENABLE_OPENSSL=OFF \
  -DENABLE_MBEDTLS=OFF -DENABLE_NETTLE=OFF -DENABLE_LZMA=OFF -DENABLE_ZSTD=OFF -DENABLE_LZ4=OFF \
  -DENABLE_BZip2=OFF -DENABLE_LIBB2=OFF -DENABLE_LIBXML2=OFF -DENABLE_EXPAT=OFF -DENABLE_WIN32_XMLLITE=OFF \
  -DENABLE_ICONV=OFF -DENABLE_LZO=OFF -DENABLE_PCREPOSIX=OFF -DENABLE_PCRE2POSIX=OFF -DENABLE_ACL=OFF \
  -DENABLE_XATTR=OFF -DENABLE_TAR=OFF -DENABLE_CPIO=OFF -DENABLE_CAT=OFF -DENABLE_TEST=OFF -DENABLE_INSTALL=OFF
quiet archive-build.log nice -n 10 cmake --build archive -j "$jobs" --target archive_static
mkdir -p "$prefix/include" "$prefix/lib"
cp libarchive-*/libarchive/archive.h libarchive-*/libarchive/archive_entry.h "$prefix/include/"
cp archive/libarchive/libarchive_static.a "$prefix/lib/libarchive.a"

echo "-- Qt Core" >&2
quiet qt.log cmake -S qt6-base-*/ -B qt "${common[@]}" -DQT_HOST_PATH=/usr \
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
  -DFEATURE_gui=OFF -DFEATURE_widgets=OFF -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_xml=OFF \
  -DFEATURE_dbus=OFF -DFEATURE_testlib=OFF -DFEATURE_concurrent=OFF -DFEATURE_printsupport=OFF \
  -DFEATURE_opengl=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_system_zlib=OFF \
  -DFEATURE_system_pcre2=OFF -DFEATURE_system_doubleconversion=OFF -DFEATURE_pkg_config=OFF
quiet qt-build.log nice -n 10 cmake --build qt -j "$jobs"
quiet qt-install.log cmake --install qt

touch "$stamp"
echo "$prefix"
