#!/usr/bin/env bash
# Redraws the README's pictures of the register tools on a virtual X display,
# on a system set to Italian: docs/tools-read-registers.png,
# docs/tools-write-value.png and docs/tools-meter-clock.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build}
cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" -j2 --target gui_register_tools_screenshot
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp app/maps/map.cfg "$work/"
cd "$work"
LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1280x800x24" \
  "$build/tests/gui/gui_register_tools_screenshot" "$root/docs/tools-read-registers.png" \
  "$root/docs/tools-write-value.png" "$root/docs/tools-meter-clock.png"
echo "wrote docs/tools-read-registers.png, docs/tools-write-value.png, docs/tools-meter-clock.png"
