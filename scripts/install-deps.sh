#!/usr/bin/env bash
# Installs the Debian packages the project needs to build, test and run.
# Idempotent: prints nothing and touches nothing when everything is present.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  # the formatting check of .ci/run: scripts/check-format.sh
  clang-format
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev
  # the live trend chart
  libqcustomplot-dev
  # the headless programs: options, JSON, the metrics endpoint
  libcli11-dev nlohmann-json3-dev libcpp-httplib-dev
  # independent Modbus peers for the interoperability tests, each with what it
  # needs: Debian's pymodbus imports pymodbus.server only with
  # python3-serial-asyncio, which it merely recommends, as it does python3-typer
  libmodbus-dev mbpoll socat
  python3-pymodbus python3-serial python3-serial-asyncio python3-typer
  # a display server for window screenshots and for running the window headless
  xvfb xauth fonts-dejavu-core
  # the Italian locale the window's tests run under as well
  locales
  # the README's pictures: a terminal for kq517mon's, a PDF rasteriser for the
  # commissioning report's, docs/make-sim-screenshots.sh and docs/make-report-picture.sh
  tmux poppler-utils
  # the Windows build, scripts/build-windows.sh: the cross compiler, GoogleTest's
  # sources to build for it, Wine to run its tests, zip for the package
  g++-mingw-w64-x86-64-posix googletest wine wine64 zip
  # Qt for Windows, scripts/build-qt-windows.sh: apt-get source unpacks with dpkg-dev,
  # Qt builds with Ninja, Debian's Qt host tools moc, rcc and uic of the same release
  dpkg-dev ninja-build qt6-base-dev-tools
  # the cross compiler's objects kept between Windows builds
  ccache
  # the window's Windows package: Qt's Italian translations, the installer
  qt6-translations-l10n nsis
  # the window under Wine: the fonts Windows users see, keys typed as a user would,
  # the README's screenshot, docs/make-windows-screenshot.sh
  fonts-wine xdotool x11-apps netpbm
  # the Windows icon, packaging/make-windows-icon.sh
  librsvg2-bin icoutils
)

# Generates it_IT.UTF-8 when it is missing (the tests need it).
ensure_italian_locale() {
  locale -a 2>/dev/null | grep -qi '^it_IT\.utf-\?8$' && return 0
  echo "Generating the it_IT.UTF-8 locale"
  $SUDO sed -i 's/^# *\(it_IT.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^it_IT.UTF-8 UTF-8' /etc/locale.gen || echo 'it_IT.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
}

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
if [ ${#missing[@]} -eq 0 ]; then
  ensure_italian_locale
  exit 0
fi

echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
ensure_italian_locale
