#!/usr/bin/env bash
# Redraws docs/window.png, the window polling a scripted meter on 127.0.0.1,
# docs/window-it.png, the same on a system set to Italian (decimal commas),
# docs/window-meter-absent-it.png, a switched-off meter instance,
# docs/about.png, the about box, and on the Italian system
# docs/window-laptop-it.png, the window at its minimum height with the
# "Traffico" panel open, and docs/file-dialog-it.png, Qt's file dialog in
# Italian, on a virtual X display.
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
shoot() {
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" "$build/tests/gui/gui_window_screenshot" "$@"
}
LANG=C.UTF-8 LC_ALL=C.UTF-8 shoot "$root/docs/window.png" "$root/docs/about.png"
LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 shoot "$root/docs/window-it.png"
KQ_SHOT_ABSENT_METER=2 LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 shoot "$root/docs/window-meter-absent-it.png"
LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 shoot --laptop "$root/docs/window-laptop-it.png"
LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 shoot --file-dialog "$root/docs/file-dialog-it.png"
echo "wrote docs/window.png, docs/window-it.png, docs/window-meter-absent-it.png, docs/about.png, docs/window-laptop-it.png and docs/file-dialog-it.png"
