#!/usr/bin/env bash
# Redraws docs/commissioning-report.png: the first page of the PDF report of a
# limits test against the simulated meter kq517sim, with one limit made
# stricter than the shipped limits.cfg so that the report shows a FAIL
# ("Non superato").
# Needs pdftoppm (Debian package poppler-utils) for the picture only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${BUILD_DIR:-$root/build}
command -v pdftoppm >/dev/null || { echo "pdftoppm is missing: apt install poppler-utils" >&2; exit 1; }
cmake --build "$build" -j"$(nproc)" --target kq517sim kq517poll

work=$(mktemp -d)
log=$work/sim.log
cd "$work"
"$build/app/cli/kq517sim/kq517sim" --tcp 127.0.0.1:0 --slave 7 --parity even \
  --byte-order 3-2-1-0 --meters 2,3 >"$log" 2>&1 &
sim=$!
trap 'kill "$sim" 2>/dev/null || true; wait "$sim" 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do
  grep -q "Ctrl-C stops" "$log" && break
  sleep 0.1
done
port=$(sed -n 's/^kq517sim: Modbus TCP on 127.0.0.1:\([0-9]*\)$/\1/p' "$log")
[ -n "$port" ] || { cat "$log" >&2; exit 1; }

sed 's/^\(\xef\xbb\xbf\)\?1-0:32.7.0|207|253|[^\r]*/\11-0:32.7.0|207|225|più stretto di EN 50160, per vedere un errore/' \
  "$root/app/maps/limits.cfg" >strict.cfg
"$build/app/cli/kq517poll/kq517poll" --tcp "127.0.0.1:$port" --meter 2 --byte-order 3-2-1-0 \
  --test strict.cfg --count 5 --interval 1 --report report.pdf \
  --site "Cabina MT/BT 12, Via Roma" --technician "M. Rossi" || true
pdftoppm -png -r 110 -f 1 -l 1 -singlefile report.pdf "$root/docs/commissioning-report"
echo "wrote docs/commissioning-report.png"
