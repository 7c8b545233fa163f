#!/usr/bin/env bash
# Renders data/icons/tarnwick.svg into the PNG sizes of the hicolor theme that
# are installed beside it (data/icons/<N>x<N>/tarnwick.png). The PNGs are kept
# in git, so building needs no SVG renderer; run this after changing the SVG.
# Needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 24 32 48 64 128 256; do
    mkdir -p "${size}x${size}"
    rsvg-convert --width "$size" --height "$size" --output "${size}x${size}/tarnwick.png" tarnwick.svg
done
