#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and tests them under Wine:
# the unit tests and the window's tests (offscreen), then the programs against the
# Linux ones and pymodbus over loopback and through Wine COM ports mapped to
# pseudo-terminals, the window polling the Linux simulator on a virtual X display, and
# the installer (tests/windows/interop.py).
# Wine runs in a prefix of this run's own, made once and removed at the end, on an X
# display of its own (Xvfb).
# Usage: scripts/test-windows.sh    (build folders: $BUILD_DIR, default build-windows,
#                                    and $LINUX_BUILD_DIR, default build, for the Linux programs)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh
build=$(realpath -m "${BUILD_DIR:-build-windows}")
linux_build=${LINUX_BUILD_DIR:-build}
# The Linux programs the Windows ones are compared with.
if [ ! -x "$linux_build/app/cli/kq517poll/kq517poll" ] || [ ! -x "$linux_build/app/cli/kq517sim/kq517sim" ]; then
  cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${LINUX_CMAKE_ARGS:-} >/dev/null
fi
cmake --build "$linux_build" -j"$(nproc)" --target kq517poll kq517sim >/dev/null

export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64 DISPLAY
WINEPREFIX=$(mktemp -d /tmp/kq517-wine.XXXXXX)
# The display comes first: Wine's desktop process, which wineboot starts, keeps the
# display it was started with.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$WINEPREFIX.display" 2>/dev/null &
xvfb=$!
stop_wine() {
  wineserver -k 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.log" "$WINEPREFIX.display"
}
trap stop_wine EXIT
for _ in $(seq 100); do [ -s "$WINEPREFIX.display" ] && break; sleep 0.1; done
DISPLAY=:$(cat "$WINEPREFIX.display")
[ "$DISPLAY" != ":" ] || { echo "Xvfb did not start" >&2; exit 1; }
echo "Creating a Wine prefix in $WINEPREFIX"
# The server stays up for the whole run, and so do the system processes that wineboot
# starts (services.exe and the device drivers). Their output goes to a log: a test
# program started first would otherwise hand them its own output pipe, which the test
# runner then waits on for ever. wineboot's status also counts the 32-bit helpers that
# a 64-bit-only Wine lacks: the prefix is judged by its system folder instead.
wineserver -p >"$WINEPREFIX.log" 2>&1 </dev/null
wineboot -i >>"$WINEPREFIX.log" 2>&1 </dev/null || true
if [ ! -d "$WINEPREFIX/drive_c/windows/system32" ]; then
  cat "$WINEPREFIX.log"
  echo "Wine could not create its prefix" >&2
  exit 1
fi
# Wine maps COM ports to the host's serial devices on its own; the tests map theirs.
rm -f "$WINEPREFIX"/dosdevices/com*
# Qt's offscreen platform on Windows finds fonts only where QT_QPA_FONTDIR points, and
# Wine passes no QT_ variable on: every Wine process takes it from the registry.
wine reg add 'HKCU\Environment' /v QT_QPA_FONTDIR /t REG_SZ /f \
  /d 'Z:\usr\share\fonts\truetype\dejavu' >>"$WINEPREFIX.log" 2>&1

echo "Unit tests under Wine"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

echo "The Windows programs against the Linux ones and pymodbus"
version=$(sed -n 's/^project(KQ517Tool VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
/usr/bin/python3 tests/windows/interop.py --windows-build "$build" --linux-build "$linux_build" \
  --package "$build/package/kq517-$version-windows-x64"
