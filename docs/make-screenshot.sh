#!/usr/bin/env bash
# Redraws docs/window.png, the window polling a scripted meter on 127.0.0.1,
# and docs/about.png, the about box, on a virtual X display.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j"$(nproc)" --target gui_window_screenshot
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp app/maps/map.cfg app/maps/qvztmap.cfg "$work/"
cd "$work"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/tests/gui/gui_window_screenshot" "$root/docs/window.png" "$root/docs/about.png"
echo "wrote docs/window.png and docs/about.png"
