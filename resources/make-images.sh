#!/bin/sh
# Renders the SVG sources in icons/ into the PNG resources compiled into the program.
# Needs rsvg-convert (librsvg2-bin) and a CJK font (fonts-noto-cjk) for the splash text.
set -e
cd "$(dirname "$0")"
for svg in icons/*.svg; do
    name=$(basename "$svg" .svg)
    rsvg-convert "$svg" -o "images/$name.png"
done
# The desktop icon at the sizes the install target puts under hicolor/.
rsvg-convert -w 48 -h 48 --keep-aspect-ratio icons/log.svg -o images/app-48.png
rsvg-convert -w 128 -h 128 --keep-aspect-ratio icons/log.svg -o images/app-128.png
