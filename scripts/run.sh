#!/usr/bin/env bash
# Installs what is missing, builds the tool, starts the simulated meter
# kq517sim on loopback and opens the window; without a display it polls the
# simulator a few times with the headless poller and prints the decoded table.
#
#   scripts/run.sh                 simulator + window (or + poller without a display)
#   scripts/run.sh --headless ARGS run the headless poller against your own device, e.g.
#                                  scripts/run.sh --headless --tcp 192.168.1.50:502
#   scripts/run.sh --no-sim        open the window without starting the simulator
#
# KQ_SIM_PORT picks the simulator's TCP port (default 1502).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build}
sim_port=${KQ_SIM_PORT:-1502}

build_tool() {
  scripts/install-deps.sh
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target "$@"
}

# A display someone can look at: an X or Wayland session, or a Qt platform other than the
# invisible offscreen and minimal ones.
has_display() {
  case "${QT_QPA_PLATFORM:-}" in
    offscreen* | minimal*) return 1 ;;
    ?*) return 0 ;;
  esac
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]
}

# Starts kq517sim in the background on 127.0.0.1:$sim_port and waits until it
# says where it serves; sets sim_pid and sim_pty. The simulator stops when
# this script ends.
start_simulator() {
  sim_log=$(mktemp)
  (cd "$build/app/cli/kq517sim" && exec ./kq517sim --tcp "127.0.0.1:$sim_port") >"$sim_log" 2>&1 &
  sim_pid=$!
  trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true; rm -f "$sim_log"' EXIT
  for _ in $(seq 100); do
    grep -q "Ctrl-C stops" "$sim_log" && break
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q "Ctrl-C stops" "$sim_log"; then
    echo "The simulated meter did not start:" >&2
    cat "$sim_log" >&2
    exit 1
  fi
  sim_pty=$(sed -n 's/^kq517sim: Modbus RTU on \([^ ]*\).*/\1/p' "$sim_log")
  cat <<MSG
Simulated meter kq517sim running (stops with this script):
  Modbus TCP   IP address 127.0.0.1, port $sim_port
  Modbus RTU   serial port $sim_pty, 115200 baud, no parity, slave address 1
MSG
}

# The programs read map.cfg and qvztmap.cfg from their working folder, where
# the build copies them.
run_window() {
  build_tool Test_KQ517T
  cd "$build/app/gui"
  exec ./Test_KQ517T
}

# Standard output carries only what the poller prints, so that
# "scripts/run.sh --headless ... --format csv > values.csv" gives a valid file:
# install and build messages go to standard error.
run_poller() {
  build_tool kq517poll >&2
  cd "$build/app/cli/kq517poll"
  exec ./kq517poll "$@"
}

if [ "${1:-}" = "--headless" ]; then
  shift
  run_poller "$@"
fi
if [ "${1:-}" = "--no-sim" ]; then
  run_window
fi

if has_display; then
  build_tool Test_KQ517T kq517sim
  start_simulator
  echo "The window opens pointed at the simulator: press Start Poll of the TCP panel."
  (cd "$build/app/gui" && ./Test_KQ517T --tcp "127.0.0.1:$sim_port")
  exit 0
fi

build_tool kq517sim kq517poll
start_simulator
cat <<MSG

No display found, so the window cannot open; polling the simulator from the terminal
instead (the window: xvfb-run -a scripts/run.sh, or run this on a desktop).
MSG
cd "$build/app/cli/kq517poll"
./kq517poll --tcp "127.0.0.1:$sim_port" --count 3 --interval 2 --format table
