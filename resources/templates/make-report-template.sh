#!/usr/bin/env bash
# Makes the custom report template test.xls from its readable source
# report/test.fods with LibreOffice (headless, in a private profile).
#   make-report-template.sh OUTPUT.xls
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
out="$1"
soffice="${ORVEN_SOFFICE:-$(command -v soffice || command -v libreoffice || true)}"
if [ -z "$soffice" ]; then
  echo "make-report-template.sh: LibreOffice (soffice) not found" >&2
  exit 1
fi
work="$(mktemp -d "${TMPDIR:-/tmp}/orven-template-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cp "$here/report/test.fods" "$work/test.fods"
"$soffice" "-env:UserInstallation=file://$work/profile" --headless --norestore --nolockcheck \
  --convert-to 'xls:MS Excel 97' --outdir "$work/out" "$work/test.fods" > "$work/log" 2>&1 || {
  cat "$work/log" >&2
  exit 1
}
mkdir -p "$(dirname "$out")"
cp "$work/out/test.xls" "$out"
