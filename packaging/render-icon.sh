#!/usr/bin/env bash
# Renders packaging/qorvel.svg into src/app/qorvel.ico (16, 24, 32, 48 and
# 256 px). The .ico is committed, so building needs no image tools; run this
# after changing the drawing. Needs librsvg2-bin and icoutils.
set -euo pipefail
cd "$(dirname "$0")/.."
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
pngs=()
for size in 16 24 32 48 256; do
  rsvg-convert -w "$size" -h "$size" packaging/qorvel.svg -o "$work/qorvel-$size.png"
  pngs+=("$work/qorvel-$size.png")
done
# 256 px is stored as PNG, the way Windows expects that size; the rest as bitmaps.
icotool -c -o src/app/qorvel.ico "${pngs[@]:0:4}" -r "${pngs[4]}"
if [ -n "${QORVEL_ICON_PREVIEW:-}" ]; then
  mkdir -p "$QORVEL_ICON_PREVIEW" && cp "${pngs[@]}" "$QORVEL_ICON_PREVIEW"/
fi
echo "Wrote src/app/qorvel.ico ($(stat -c %s src/app/qorvel.ico) bytes)"
