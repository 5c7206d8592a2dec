#!/usr/bin/env bash
# Makes the README's picture of PLAY: starts the program with the sample
# arrangement in a private X server (Xvfb), clicks PLAY, lets the camera
# settle on a point with its dialogue line, and saves the window's client
# area to docs/play.png (or to the path given as $1).
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/play.png}")
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target tamberlune >/dev/null

tmp=$(mktemp -d /tmp/tl_shot_XXXXXX)
xvfb="" program=""
cleanup() {
  [ -n "$program" ] && kill "$program" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT

# The program runs from a copy of its working folder, as a user's copy would.
mkdir "$tmp/work"
cp -r data/. "$tmp/work"/
cp build/tamberlune "$tmp/work"/

# -noreset: a reset when xdotool leaves would refuse the program connecting.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$tmp/display" 2>/dev/null &
xvfb=$!
for _ in $(seq 50); do [ -s "$tmp/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$tmp/display")"
unset SDL_VIDEODRIVER
export ALSOFT_DRIVERS=${ALSOFT_DRIVERS:-null} TL_MESSAGEBOX=stderr

"$tmp/work/tamberlune" >"$tmp/out" 2>&1 &
program=$!
win=""
for _ in $(seq 100); do
  win=$(xdotool search --name '^Tamberlune$' 2>/dev/null | head -n1 || true)
  [ -n "$win" ] && break
  sleep 0.1
done
[ -n "$win" ] || { cat "$tmp/out" >&2; echo "no window titled Tamberlune" >&2; exit 1; }
read -r wx wy < <(xdotool getwindowgeometry "$win" | awk -F'[ ,]+' '/Position/ {print $3, $4}')
read -r ww wh < <(xdotool getwindowgeometry "$win" | awk -F'[ x]+' '/Geometry/ {print $3, $4}')
sleep 1

# PLAY is the rightmost button of the bar; the mouse then leaves the bar.
xdotool mousemove --window "$win" $((ww - 25)) 8
sleep 0.1
xdotool mousedown 1
sleep 0.15
xdotool mouseup 1
xdotool mousemove --window "$win" $((ww - 5)) $((wh / 2))
sleep 2.5

mkdir -p "$(dirname "$out")"
import -window root "$tmp/root.png"
convert "$tmp/root.png" -crop "${ww}x${wh}+${wx}+${wy}" +repage "$out"
echo "wrote $out"
