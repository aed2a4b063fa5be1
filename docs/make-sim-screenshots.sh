#!/usr/bin/env bash
# Redraws docs/window-sim-tcp.png and docs/window-sim-serial.png: the window
# polling the simulated meter kq517sim over TCP and over its pseudo-terminal,
# on a virtual X display; docs/traffic-panel.png and docs/trend-chart.png, the
# "Traffico" panel and a "Grafico" window during a TCP poll of it; and
# docs/kq517mon.png, kq517mon in a terminal (tmux) listening on a
# pseudo-terminal bus between kq517poll (and mbpoll) and a second kq517sim.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target kq517sim kq517poll kq517mon sim_window_screenshot \
  sim_bus_tap sim_terminal_picture

work=$(mktemp -d)
log=$work/sim.log
cp app/maps/map.cfg app/maps/qvztmap.cfg "$work/"
cd "$work"
"$build/app/cli/kq517sim/kq517sim" --tcp 127.0.0.1:0 >"$log" 2>&1 &
sim=$!
pids=("$sim")
cleanup() {
  tmux kill-session -t kq517mon-picture 2>/dev/null || true
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 100); do
  grep -q "Ctrl-C stops" "$log" && break
  sleep 0.1
done
port=$(sed -n 's/^kq517sim: Modbus TCP on 127.0.0.1:\([0-9]*\)$/\1/p' "$log")
pty=$(sed -n 's/^kq517sim: Modbus RTU on \([^ ]*\).*/\1/p' "$log")
[ -n "$port" ] && [ -n "$pty" ] || { cat "$log" >&2; exit 1; }

shoot() {
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
    "$build/tests/gui/sim_window_screenshot" "$@"
}
shoot --tcp "$port" "$root/docs/window-sim-tcp.png"
echo "wrote docs/window-sim-tcp.png"
shoot --serial "$pty" "$root/docs/window-sim-serial.png"
echo "wrote docs/window-sim-serial.png"
shoot --traffic "$port" "$root/docs/traffic-panel.png"
echo "wrote docs/traffic-panel.png"
shoot --chart "$port" "$root/docs/trend-chart.png"
echo "wrote docs/trend-chart.png"

# The bus: kq517poll as master, a second simulator as slave, kq517mon clipped on.
mkfifo "$work/tap-in"
"$build/tests/cli/sim_bus_tap" <"$work/tap-in" >"$work/tap.txt" &
pids+=("$!")
exec 3>"$work/tap-in"  # the tap runs while this stays open
for _ in $(seq 50); do [ "$(wc -l <"$work/tap.txt")" -ge 3 ] && break; sleep 0.1; done
master=$(sed -n 's/^master //p' "$work/tap.txt")
slave=$(sed -n 's/^slave //p' "$work/tap.txt")
monitor=$(sed -n 's/^monitor //p' "$work/tap.txt")
"$build/app/cli/kq517sim/kq517sim" --no-tcp --serial "$slave" >"$work/sim2.log" 2>&1 &
pids+=("$!")
mon="$build/app/cli/kq517mon/kq517mon"
tmux new-session -d -s kq517mon-picture -x 150 -y 14 \
  "echo '$ kq517mon --serial $monitor --baud 115200'; $mon --serial $monitor --baud 115200; sleep 30"
sleep 1
# The three voltages only, so that each frame fits on a line of the picture.
head -n 3 map.cfg >voltages.cfg
"$build/app/cli/kq517poll/kq517poll" --serial "$master" --map voltages.cfg --count 2 --interval 0.5 \
  --format csv >/dev/null
if command -v mbpoll >/dev/null; then  # a register the meter does not have: an exception reply
  mbpoll -m rtu -b 115200 -P none -a 1 -r 9001 -c 2 -1 -q "$master" >/dev/null 2>&1 || true
fi
sleep 0.5
tmux send-keys -t kq517mon-picture C-c
sleep 0.5
tmux capture-pane -p -t kq517mon-picture >"$work/screen.txt"
QT_QPA_PLATFORM=offscreen "$build/tests/gui/sim_terminal_picture" "kq517mon on an RS-485 bus" \
  "$root/docs/kq517mon.png" <"$work/screen.txt"
cat "$work/screen.txt"
echo "wrote docs/kq517mon.png"
