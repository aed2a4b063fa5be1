#!/usr/bin/env bash
# Builds the Windows programs (scripts/build-windows.sh) and tests them under Wine:
# the Qt-free unit tests, then the programs against the Linux ones and pymodbus over
# loopback and through Wine COM ports mapped to pseudo-terminals (tests/windows/interop.py).
# Wine runs in a prefix of this run's own, made once and removed at the end.
# Usage: scripts/test-windows.sh    (build folders: $BUILD_DIR, default build-windows,
#                                    and $LINUX_BUILD_DIR, default build, for the Linux programs)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build-windows.sh
build=${BUILD_DIR:-build-windows}
linux_build=${LINUX_BUILD_DIR:-build}
# The Linux programs the Windows ones are compared with.
if [ ! -x "$linux_build/app/cli/kq517poll/kq517poll" ] || [ ! -x "$linux_build/app/cli/kq517sim/kq517sim" ]; then
  cmake -S . -B "$linux_build" -DCMAKE_BUILD_TYPE=RelWithDebInfo ${LINUX_CMAKE_ARGS:-} >/dev/null
fi
cmake --build "$linux_build" -j"$(nproc)" --target kq517poll kq517sim >/dev/null

export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
WINEPREFIX=$(mktemp -d /tmp/kq517-wine.XXXXXX)
stop_wine() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX" "$WINEPREFIX.log"
}
trap stop_wine EXIT
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

echo "Unit tests under Wine"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

echo "The Windows programs against the Linux ones and pymodbus"
/usr/bin/python3 tests/windows/interop.py --windows-build "$build" --linux-build "$linux_build"
