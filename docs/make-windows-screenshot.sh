#!/usr/bin/env bash
# Redraws docs/window-windows.png: the Windows window Test_KQ517T.exe, from the package
# that scripts/build-windows.sh makes, under Wine on a virtual X display, polling the
# Linux simulator kq517sim with its clock frozen. Wine draws the window's frame itself
# (a Wine desktop of its own) and its text in the fonts of Debian's fonts-wine, the
# metrics of the fonts Windows has.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=$(realpath -m "${BUILD_DIR:-build-windows}")
linux_build=${LINUX_BUILD_DIR:-build}
version=$(sed -n 's/^project(KQ517Tool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
package=$build/package/kq517-$version-windows-x64
[ -f "$package/Test_KQ517T.exe" ] || scripts/build-windows.sh
cmake -S . -B "$linux_build" >/dev/null
cmake --build "$linux_build" -j"$(nproc)" --target kq517sim >/dev/null

work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
pids=()
cleanup() {
  wineserver -k 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
pids+=("$!")
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$work/display")
timeout 300 wineboot -i >/dev/null 2>&1 </dev/null || true

"$linux_build/app/cli/kq517sim/kq517sim" --tcp 127.0.0.1:0 --clock 2026-12-08T10:20:30 \
  >"$work/sim.log" 2>&1 &
pids+=("$!")
for _ in $(seq 100); do grep -q "Ctrl-C stops" "$work/sim.log" && break; sleep 0.1; done
port=$(sed -n 's/^kq517sim: Modbus TCP on 127.0.0.1:\([0-9]*\)$/\1/p' "$work/sim.log")
[ -n "$port" ] || { cat "$work/sim.log" >&2; exit 1; }

width=1060
height=700
(cd "$package" && timeout 120 wine explorer /desktop=KQ517,${width}x${height} Test_KQ517T.exe \
  --tcp "127.0.0.1:$port" --start >/dev/null 2>&1 </dev/null) &
pids+=("$!")
sleep 15  # Wine's start, then a few poll cycles at the default 2 s
xwd -root -silent | xwdtopnm 2>/dev/null | pamcut -left 0 -top 0 -width $width -height $height |
  pnmtopng >"$root/docs/window-windows.png"
echo "wrote docs/window-windows.png"
