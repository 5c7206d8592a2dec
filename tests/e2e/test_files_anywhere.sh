#!/usr/bin/env bash
# The program works from any folder a user has: installed in a folder named
# with kana, accents and a space, it starts, LOADs an arrangement and LOAD CGs
# a picture from a folder named "café".
source "$TL_E2E_LIB"
program=$1

work="$E2E_TMP/テスト zoë"
cafe="$E2E_TMP/café"
mkdir -p "$work" "$cafe"
cp -r "$TL_DATA_DIR"/. "$work"/
cp "$program" "$work"/
cp "$work/sav/sample01.sav" "$cafe/été.sav"
convert -size 300x200 xc:'#2040c0' "$cafe/bleu.png"
# The file dialogs in the order they open: LOAD CG, then LOAD.
printf '%s\n' "$cafe/bleu.png" "$cafe/été.sav" >"$E2E_TMP/answers"
export TL_FILE_DIALOG_ANSWERS="$E2E_TMP/answers"

move() { xdotool mousemove --window "$E2E_WIN" "$1" "$2"; sleep 0.05; }
press() {
  move "$1" "$2"
  xdotool mousedown 1
  sleep 0.15
  xdotool mouseup 1
  sleep 0.3
  move 1010 400
  sleep 0.6
}
shot() {
  import -window root "$E2E_TMP/root.png"
  convert "$E2E_TMP/root.png" -crop "1024x768+$WX+$WY" +repage "$E2E_TMP/$1.png"
}
mean() {  # mean <shot> <w> <h> <x> <y>: "r g b", 0..255
  convert "$E2E_TMP/$1.png" -crop "$2x$3+$4+$5" +repage -alpha off -resize 1x1! -depth 8 txt:- |
    sed -n 's/.*(\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3/p' | awk '{printf "%d %d %d", $1, $2, $3}'
}
near() {  # near "r g b" r g b tolerance
  local r g b
  read -r r g b <<<"$1"
  [ $(((r - $2) ** 2 + (g - $3) ** 2 + (b - $4) ** 2)) -le $(($5 ** 2)) ]
}

e2e_start_x 1280x1024
# Started from elsewhere: the program finds its working folder itself.
cd /
e2e_start_program "$work/$(basename "$program")"
read -r WX WY < <(xdotool getwindowgeometry "$E2E_WIN" | awk -F'[ ,]+' '/Position/ {print $3, $4}')
move 1010 400
sleep 1.5
kill -0 "$E2E_PID" || { cat "$E2E_TMP/out" >&2; fail "the program ended at start-up"; }
shot start
# The sample loaded at the first update: a night landscape below the bar.
sample=$(mean start 400 300 300 200)
[ "$(awk '{print $1 + $2 + $3}' <<<"$sample")" -ge 60 ] || fail "no sample picture: $sample"

press 37 8  # LOAD CG
shot picture
near "$(mean picture 100 100 450 300)" 32 64 192 30 || fail "the picture from café is not shown"

press 151 8  # LOAD
shot loaded
near "$(mean loaded 100 100 450 300)" 32 64 192 30 && fail "the arrangement from café was not loaded"
[ "$(awk '{print $1 + $2 + $3}' <<<"$(mean loaded 400 300 300 200)")" -ge 60 ] || fail "no picture after LOAD"
grep -q "fatal\|cannot" "$E2E_TMP/out" && { cat "$E2E_TMP/out" >&2; fail "errors reported"; }

"$TL_SEND_CLOSE" "$E2E_WIN"
e2e_expect_exit 0
echo "4 passed, 0 failed"
