#!/usr/bin/env bash
# Redraws packaging/kq517.ico, the Windows programs' icon, from kq517.svg: the
# sizes Explorer, the task bar and the Start menu ask for, in one file.
set -euo pipefail
cd "$(dirname "$0")"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for size in 16 24 32 48 64 128 256; do
  rsvg-convert -w "$size" -h "$size" kq517.svg -o "$work/$size.png"
done
# the largest kept as PNG inside the file, as Windows Vista and later read it
icotool -c -o kq517.ico "$work"/{16,24,32,48,64,128}.png -r "$work/256.png"
