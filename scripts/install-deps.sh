#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test and run.
# Idempotent: prints nothing and touches nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev
  # independent Modbus peers for the interoperability tests, each with what it
  # needs: Debian's pymodbus imports pymodbus.server only with
  # python3-serial-asyncio, which it merely recommends (as it does python3-typer)
  libmodbus-dev mbpoll socat
  python3-pymodbus python3-serial python3-serial-asyncio python3-typer
  # a display server for window screenshots and for running the window headless
  xvfb xauth fonts-dejavu-core
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
