#!/bin/sh
# Renders the application icon's PNG sizes from brennix-debug.svg after a change to the drawing (needs
# rsvg-convert from librsvg2-bin; the PNGs are committed, so building never does).
set -eu
cd "$(dirname "$0")"
for size in 16 22 24 32 48 64 128 256; do
  rsvg-convert --width "$size" --height "$size" brennix-debug.svg > "brennix-debug-$size.png"
done
