#!/usr/bin/env bash
# Renders the hicolor PNG sizes from the scalable icon. Run by hand after changing the SVG and
# commit the result: the build then needs no SVG renderer. Needs rsvg-convert (librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons/hicolor"
svg=scalable/apps/vn.sorvi.SorviClean.svg
for size in 16 24 32 48 64 128 256 512; do
  mkdir -p "${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" "$svg" \
    --output "${size}x${size}/apps/vn.sorvi.SorviClean.png"
done
