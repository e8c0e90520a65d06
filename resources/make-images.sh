#!/bin/sh
# Renders the SVG sources in icons/ into the PNG resources compiled into the program.
# Needs rsvg-convert (librsvg2-bin) and a CJK font (fonts-noto-cjk) for the splash text.
set -e
cd "$(dirname "$0")"
for svg in icons/*.svg; do
    name=$(basename "$svg" .svg)
    rsvg-convert "$svg" -o "images/$name.png"
done
