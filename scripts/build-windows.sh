#!/usr/bin/env bash
# Cross-builds the Windows programs with mingw-w64: the window Test_KQ517T.exe against
# the Windows Qt that scripts/build-qt-windows.sh builds once into the cache, the
# poller and the simulator, and their tests. Then packs them, with what the window needs
# beside it (Qt's and the compiler's DLLs, plugins, translations) and the map files, into
# a folder, a zip and an installer (NSIS):
#   $BUILD_DIR/package/kq517-<version>-windows-x64/       the folder (what the zip holds)
#   $BUILD_DIR/package/kq517-<version>-windows-x64.zip
#   $BUILD_DIR/package/kq517-<version>-setup.exe
# Usage: scripts/build-windows.sh     (build folder: $BUILD_DIR, default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=$(realpath -m "${BUILD_DIR:-build-windows}")
cache=${XDG_CACHE_HOME:-$HOME/.cache}/kq517

qt=$(scripts/build-qt-windows.sh)
# QCustomPlot, compiled in: the same release as Debian's library for Linux.
qcp_version=$(dpkg-query -W -f='${source:Version}' libqcustomplot-dev)
qcp=$cache/src/qcustomplot-$qcp_version
scripts/debian-source-windows.sh "qcustomplot=$qcp_version" "$qcp"

# The preset windows-cross of CMakePresets.json: the mingw-w64 toolchain, the Windows Qt
# and QCustomPlot named by the two variables; ccache keeps the cross compiler's objects
# between builds (CI builds a fresh clone).
KQ_WINDOWS_QT=$qt KQ_QCUSTOMPLOT_SOURCE_DIR=$qcp \
  cmake --preset windows-cross -S . -B "$build" ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"

# The package folder: what cmake --install puts in, stripped (the debugging
# information is most of a mingw-w64 binary's size).
version=$(sed -n 's/^project(KQ517Tool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="kq517-${version}-windows-x64"
package=$build/package
stage=$package/$name
rm -rf "$package"
mkdir -p "$stage"
cmake --install "$build" --prefix "$stage" >/dev/null
find "$stage" \( -name '*.exe' -o -name '*.dll' \) -exec x86_64-w64-mingw32-strip --strip-unneeded {} +
sed "s/@VERSION@/$version/" packaging/windows-README.txt | sed 's/$/\r/' >"$stage/README.txt"
if [ ! -f "$stage/Test_KQ517T.exe" ]; then
  echo "The window was not built for Windows (see the CMake output in $build)" >&2
  exit 1
fi

scripts/pack-windows.sh "$stage" "$version"
