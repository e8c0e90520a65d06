#!/usr/bin/env bash
# Builds the Debian package (build/orven-m70x_*.deb) and checks its layout by
# unpacking it into a scratch root. Install it with: sudo apt install ./build/orven-m70x_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"
rm -f build/orven-m70x_*.deb
(cd build && cpack -G DEB)
deb=$(ls build/orven-m70x_*.deb)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg -x "$deb" "$scratch"
missing=0
for f in usr/bin/Orven_KV4100 usr/bin/orven-sim usr/bin/orven-report \
         usr/share/orven/M702.docx usr/share/orven/databook.docx usr/share/orven/test.xls \
         usr/share/applications/orven-m70x.desktop \
         usr/share/icons/hicolor/48x48/apps/orven-m70x.png \
         usr/share/icons/hicolor/128x128/apps/orven-m70x.png \
         usr/share/icons/hicolor/scalable/apps/orven-m70x.svg; do
  if [ ! -f "$scratch/$f" ]; then
    echo "package.sh: missing $f" >&2
    missing=1
  fi
done
desktop-file-validate "$scratch/usr/share/applications/orven-m70x.desktop"
depends=$(dpkg-deb -f "$deb" Depends)
for d in libqt5widgets5 libqt5sql5-sqlite libqt5serialport5 fonts-noto-cjk; do
  case "$depends" in
    *"$d"*) ;;
    *) echo "package.sh: $d missing from Depends" >&2; missing=1 ;;
  esac
done
case "$(dpkg-deb -f "$deb" Recommends)" in
  *libreoffice-writer*) ;;
  *) echo "package.sh: LibreOffice is not recommended" >&2; missing=1 ;;
esac
[ "$missing" = 0 ]
echo "package: $deb ($(du -h "$deb" | cut -f1)), layout checked"
