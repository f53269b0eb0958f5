#!/usr/bin/env bash
# Re-renders every icon and banner from the SVG sources in this folder into the
# resource folders next to it (src/room/x.svg -> room/x.png, and so on).
# Output size is the width/height written in each SVG. Needs qtbase5-dev,
# libqt5svg5-dev, pkg-config and a C++ compiler; the PNGs are committed, so this
# is only run after editing an SVG.
set -euo pipefail
src="$(cd "$(dirname "$0")" && pwd)"
res="$(dirname "$src")"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# shellcheck disable=SC2046
g++ -std=c++17 -O1 -fPIC -o "$tmp/svgrender" "$src/svgrender.cpp" \
    $(pkg-config --cflags --libs Qt5Svg Qt5Gui Qt5Core)

pairs=()
for dir in tav_add room drawing; do
    for svg in "$src/$dir"/*.svg; do
        [ -e "$svg" ] || continue
        name="$(basename "$svg" .svg)"
        pairs+=("$svg" "$res/$dir/$name.png")
    done
done

QT_QPA_PLATFORM=offscreen "$tmp/svgrender" "${pairs[@]}"
echo "rendered $((${#pairs[@]} / 2)) image(s)"
