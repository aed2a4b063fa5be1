#!/usr/bin/env bash
# Redraws docs/window-sim-tcp.png and docs/window-sim-serial.png: the window
# polling the simulated meter kq517sim over TCP and over its pseudo-terminal,
# on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target kq517sim sim_window_screenshot

work=$(mktemp -d)
log=$work/sim.log
cp app/maps/map.cfg app/maps/qvztmap.cfg "$work/"
cd "$work"
"$build/app/cli/kq517sim/kq517sim" --tcp 127.0.0.1:0 >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  grep -q "Ctrl-C stops" "$log" && break
  sleep 0.1
done
port=$(sed -n 's/^kq517sim: Modbus TCP on 127.0.0.1:\([0-9]*\)$/\1/p' "$log")
pty=$(sed -n 's/^kq517sim: Modbus RTU on \([^ ]*\).*/\1/p' "$log")
[ -n "$port" ] && [ -n "$pty" ] || { cat "$log" >&2; exit 1; }

shoot() {
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
    "$build/tests/sim/sim_window_screenshot" "$@"
}
shoot --tcp "$port" "$root/docs/window-sim-tcp.png"
echo "wrote docs/window-sim-tcp.png"
shoot --serial "$pty" "$root/docs/window-sim-serial.png"
echo "wrote docs/window-sim-serial.png"
