#!/usr/bin/env bash
# Installs what is missing, builds the tool and opens its window.
#
#   scripts/run.sh                 open the window (needs a display)
#   scripts/run.sh --headless ARGS run the headless poller instead, e.g.
#                                  scripts/run.sh --headless --tcp 127.0.0.1:502
#
# Without a display the script says how to go on instead of failing inside Qt.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build}

build_tool() {
  scripts/install-deps.sh
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"$(nproc)" --target "$@"
}

has_display() {
  [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ]
}

# The programs read map.cfg and qvztmap.cfg from their working folder, where
# the build copies them.
run_window() {
  build_tool Test_KQ517T
  cd "$build/app/gui"
  exec ./Test_KQ517T
}

run_poller() {
  build_tool kq517poll
  cd "$build/app/cli/kq517poll"
  exec ./kq517poll "$@"
}

if [ "${1:-}" = "--headless" ]; then
  shift
  run_poller "$@"
fi

if ! has_display; then
  cat >&2 <<MSG
No display found, so the window cannot open. Either
  - start it on a virtual display:   xvfb-run -a scripts/run.sh
    (and look at it with a VNC viewer or a screenshot), or
  - poll a meter without a window:   scripts/run.sh --headless --tcp HOST[:PORT]
    (scripts/run.sh --headless --help lists the poller's options).
MSG
  exit 1
fi
run_window
