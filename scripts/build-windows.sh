#!/usr/bin/env bash
# Cross-builds the Windows programs and their unit tests with mingw-w64, then packs
# kq517poll.exe, kq517sim.exe, the map files and a README into a zip.
# Usage: scripts/build-windows.sh     (build folder: $BUILD_DIR, default build-windows)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-windows}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DKQ_BUILD_GUI=OFF ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j"$(nproc)"

# The package: the two programs beside their map files, and how to use them.
version=$(sed -n 's/^project(KQ517Tool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name="kq517-${version}-windows-x64"
stage="$build/package/$name"
rm -rf "$build/package"
mkdir -p "$stage"
cp "$build/app/cli/kq517poll/kq517poll.exe" "$build/app/cli/kq517sim/kq517sim.exe" \
  app/maps/map.cfg app/maps/qvztmap.cfg "$stage/"
x86_64-w64-mingw32-strip "$stage"/*.exe
sed "s/@VERSION@/$version/" packaging/windows-README.txt | sed 's/$/\r/' >"$stage/README.txt"
(cd "$build/package" && zip -qr "$name.zip" "$name")
echo "Windows package: $build/package/$name.zip"
