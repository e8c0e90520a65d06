#!/usr/bin/env bash
# The Debian 12 packages the workstation, its tests and its run command need.
# Shared by scripts/run.sh, scripts/test.sh and CI.
set -euo pipefail

PACKAGES=(
  build-essential cmake
  qtbase5-dev qtbase5-dev-tools libqt5serialport5-dev libqt5sql5-sqlite libsqlite3-dev
  pkg-config libzip-dev libxlsxwriter-dev libsodium-dev
  # PDF and .xls through LibreOffice without a GUI; CJK fonts embedded in the PDF
  libreoffice-writer-nogui libreoffice-calc-nogui fonts-noto-cjk
  # Qt's own Chinese texts for standard buttons and dialogs
  qttranslations5-l10n
  # the tests read PDFs and workbooks back
  poppler-utils python3-openpyxl
  # the install tree's desktop entry is checked
  desktop-file-utils
  # the shared-database back end and the tests' own throw-away server
  libqt5sql5-psql postgresql
  # whether a server answers at all (a refused login is no outage)
  libpq-dev
  xvfb xauth imagemagick
  # builds again what did not change, also in a fresh checkout
  ccache
)
# The Qt 6 build of CI (scripts/test.sh --qt6).
if [ "${ORVEN_WITH_QT6:-}" = 1 ]; then
  PACKAGES+=(qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite libqt6sql6-psql qt6-translations-l10n)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
