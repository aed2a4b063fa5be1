#!/usr/bin/env bash
# Builds Qt for 64-bit Windows from Debian's own qt6-base source package, with the
# mingw-w64 posix-thread compilers and Debian's qt6-base-dev-tools as the host tools
# (moc, rcc, uic), into a cache folder outside the source tree:
#   ${XDG_CACHE_HOME:-$HOME/.cache}/kq517/qt-VERSION-mingw-w64-HASH
# HASH covers the configure options and the toolchain, so a change of either builds
# a new install beside the old one. Does nothing when the install is complete.
# Usage: scripts/build-qt-windows.sh           builds when needed, then prints the install folder
#        scripts/build-qt-windows.sh --prefix  only prints the install folder
set -euo pipefail
cd "$(dirname "$0")/.."

cache=${XDG_CACHE_HOME:-$HOME/.cache}/kq517
# The host tools must be the same Qt release as the target's libraries.
version=$(dpkg-query -W -f='${source:Version}' qt6-base-dev-tools)
upstream=${version%%+*}

toolchain='set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)'

options=(
  -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DQT_BUILD_TESTS=OFF -DQT_BUILD_EXAMPLES=OFF -DFEATURE_pkg_config=OFF
  # what the window uses: Gui, Widgets, PrintSupport (the PDF report, the chart's export)
  -DFEATURE_gui=ON -DFEATURE_widgets=ON -DFEATURE_printsupport=ON
  -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_network=OFF -DFEATURE_concurrent=OFF
  -DFEATURE_xml=OFF -DFEATURE_testlib=OFF -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF
  -DFEATURE_zstd=OFF
  # OpenGL off takes both: the input alone leaves the Windows plugin asking for it
  -DFEATURE_opengl=OFF -DINPUT_opengl=no
  # Debian's source leaves out the Wintab headers that tablet support includes
  -DFEATURE_tabletevent=OFF
  # the third-party libraries Qt carries, not the build machine's
  -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF -DFEATURE_system_jpeg=OFF
  -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_doubleconversion=OFF
)
# direct2d stays at its default: without it Qt6PrintSupport.dll does not link.

hash=$(printf '%s\n' "$version" "$toolchain" "${options[@]}" | sha256sum | cut -c1-12)
prefix=$cache/qt-$upstream-mingw-w64-$hash
done_mark=$prefix/kq517-qt-complete

if [ "${1:-}" = "--prefix" ]; then
  echo "$prefix"
  exit 0
fi

mkdir -p "$cache"
# One build at a time: a second run waits for the first and then finds its install.
exec 9>"$cache/qt-build.lock"
flock 9
if [ -f "$done_mark" ]; then
  echo "$prefix"
  exit 0
fi

src=$cache/src/qt6-base-$version
build=$cache/build-qt-$upstream-$hash
log=$cache/build-qt-$upstream-$hash.log
echo "Building Qt $upstream for Windows into $prefix (about 30-40 minutes; log: $log)" >&2
scripts/debian-source-windows.sh "qt6-base=$version" "$src"

# A build that was cut short goes on where it stopped.
rm -rf "$prefix"
mkdir -p "$build"
printf '%s\n' "$toolchain" >"$build/toolchain.cmake"
fail() {
  tail -n 40 "$log" >&2
  echo "The Qt build for Windows failed; its log: $log" >&2
  exit 1
}
start=$SECONDS
{
  cmake -G Ninja -S "$src" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$build/toolchain.cmake" \
    -DCMAKE_INSTALL_PREFIX="$prefix" "${options[@]}" &&
    nice -n 19 cmake --build "$build" -j"$(nproc)" &&
    cmake --install "$build" --strip
} >"$log" 2>&1 || fail
printf '%s\n' "$version" "${options[@]}" >"$done_mark"
rm -rf "$build"
echo "Qt for Windows built in $(((SECONDS - start) / 60)) minutes" >&2
echo "$prefix"
