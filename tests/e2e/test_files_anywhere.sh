#!/usr/bin/env bash
# The program works from any folder a user has: installed in a folder named
# with kana, accents and a space, it starts, LOADs an arrangement and LOAD CGs
# a picture from a folder named "café", and asks before SAVE replaces a file
# there, naming it as it is spelled.
source "$TL_E2E_LIB"
program=$1

work="$E2E_TMP/テスト zoë"
cafe="$E2E_TMP/café"
mkdir -p "$cafe"
e2e_working_copy "$program" "$work"
cp "$work/sav/sample01.sav" "$cafe/été.sav"
convert -size 300x200 xc:'#2040c0' "$cafe/bleu.png"
# The file dialogs in the order they open: LOAD CG, SAVE, then LOAD.
e2e_zenity_answers "$cafe/bleu.png" "$cafe/été" "$cafe/été.sav"
printf '%s\n' no >"$E2E_TMP/replies"
export TL_MESSAGEBOX_ANSWERS="$E2E_TMP/replies"

move() { xdotool mousemove --window "$E2E_WIN" "$1" "$2"; sleep 0.05; }
# Holds the left button down on (x, y) until the check in the remaining
# arguments holds, so the program sees the press whatever its frame rate.
press_until() {  # press_until x y <check...>
  local x=$1 y=$2 held=0
  shift 2
  move "$x" "$y"
  xdotool mousedown 1
  e2e_poll 30 "$@" || held=1
  xdotool mouseup 1
  move 1010 400
  return $held
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
e2e_start_program "$E2E_PROGRAM"
read -r WX WY < <(xdotool getwindowgeometry "$E2E_WIN" | awk -F'[ ,]+' '/Position/ {print $3, $4}')
move 1010 400
# The sample loaded at the first update: a night landscape below the bar.
bright() { shot "$1"; [ "$(awk '{print $1 + $2 + $3}' <<<"$(mean "$1" 400 300 300 200)")" -ge 60 ]; }
blue() { shot "$1"; near "$(mean "$1" 100 100 450 300)" 32 64 192 30; }
e2e_poll 30 bright start || {
  kill -0 "$E2E_PID" || { cat "$E2E_TMP/out" >&2; fail "the program ended at start-up"; }
  fail "no sample picture: $(mean start 400 300 300 200)"
}

press_until 37 8 blue picture || fail "the picture from café is not shown"  # LOAD CG

asked() { grep -q "上書きの確認: été.sav: " "$E2E_TMP/out"; }
press_until 203 8 asked || fail "SAVE over été.sav asked nothing"  # SAVE, answered No
cmp -s "$cafe/été.sav" "$work/sav/sample01.sav" || fail "été.sav changed after No"

arrangement_loaded() { ! blue "$1" && bright "$1"; }
press_until 151 8 arrangement_loaded loaded || fail "the arrangement from café was not loaded"  # LOAD
grep -q "fatal\|cannot" "$E2E_TMP/out" && { cat "$E2E_TMP/out" >&2; fail "errors reported"; }

"$TL_SEND_CLOSE" "$E2E_WIN"
e2e_expect_exit 0
echo "6 passed, 0 failed"
