#!/usr/bin/env bash
# The program works from any folder a user has: installed in a folder named
# with kana, a letter CP932 cannot write ("ü") and a space, it starts, SAVEs
# the sample as it came, its dialogue files stored relative to the working
# folder as the sample stores them, LOAD CGs a picture and LOADs an
# arrangement from a folder named "café", and asks before SAVE replaces a
# file there, naming it as it is spelled. A file only its owner could read
# stays so when SAVE replaces it; SAVE of "notes" beside notes.sav asks once,
# about notes.sav; LOAD and LOAD CG of a long name that is no arrangement or
# no picture name it in a box that stays on the screen.
source "$TL_E2E_LIB"
program=$1

work="$E2E_TMP/テスト jürgen"
cafe="$E2E_TMP/café"
mkdir -p "$cafe"
e2e_working_copy "$program" "$work"
cp "$work/sav/sample01.sav" "$cafe/été.sav"
convert -size 300x200 xc:'#2040c0' "$cafe/bleu.png"
printf 'private' >"$cafe/private.sav"
chmod 600 "$cafe/private.sav"
printf 'notes' >"$cafe/notes"
printf 'old notes' >"$cafe/notes.sav"
printf -v long '%242s' ''
long=${long// /l}  # 246 bytes with ".sav" or ".png"
printf 'no arrangement' >"$cafe/$long.sav"
printf 'no picture' >"$cafe/$long.png"
# The file dialogs in the order they open: SAVE of the sample, LOAD CG, SAVE,
# LOAD, SAVE over the private file, SAVE of "notes", LOAD and LOAD CG of the
# long names.
e2e_zenity_answers "$work/sav/mine" "$cafe/bleu.png" "$cafe/été" "$cafe/été.sav" "$cafe/private" "$cafe/notes" \
  "$cafe/$long.sav" "$cafe/$long.png"
# The program's own questions before a file is replaced: over été.sav, over
# private.sav and over notes.sav.
printf '%s\n' no yes yes >"$E2E_TMP/replies"
export TL_MESSAGEBOX_ANSWERS="$E2E_TMP/replies"

# Holds the left button down on (x, y) until the check in the remaining
# arguments holds, so the program sees the press whatever its frame rate.
press_until() {  # press_until x y <check...>
  local x=$1 y=$2 held=0
  shift 2
  e2e_move "$x" "$y"
  xdotool mousedown 1
  e2e_poll 30 "$@" || held=1
  xdotool mouseup 1
  # The next press must find the button seen up.
  e2e_frames
  e2e_move 1010 400
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
# The dialogue paths an arrangement stores, one a line.
stored_names() {
  local file=$1 offset=12 count length i
  count=$(od -An -t d4 -j 4 -N 4 "$file" | tr -d ' ')
  for ((i = 0; i < count; i++)); do
    length=$(od -An -t u4 -j $((offset + 36)) -N 4 "$file" | tr -d ' ')
    od -An -v -t u1 -j $((offset + 40)) -N "$length" "$file" | xargs -n1 -r |
      while read -r b; do printf "\\x$(printf %02x $((b ^ 0xB3)))"; done
    echo
    offset=$((offset + 40 + length))
  done
}
# A box of the caption $1 names $2, as the box shows it, over lines of at
# most 80 columns (a CP932 byte a column): a box is as wide as its longest
# line, and 80 columns keep it on the screen.
box_names() {
  local box line fits
  while IFS= read -r -d '' box; do
    [ "$(tr -d '\n' <<<"$box")" = "$2" ] || continue
    fits=1
    while IFS= read -r line; do
      [ "$(printf '%s' "$line" | iconv -f UTF-8 -t CP932 | wc -c)" -le 80 ] || fits=""
    done <<<"$box"
    [ -n "$fits" ] && return 0
  done < <(LC_ALL=C awk -v head="tamberlune: $1: " '
    function end_box() { if (on) printf "%s%c", text, 0; on = 0 }
    /^tamberlune: / { end_box() }
    index($0, head) == 1 { on = 1; text = substr($0, length(head) + 1); next }
    on { text = text "\n" $0 }
    END { end_box() }' "$E2E_TMP/out")
  return 1
}
# The program's question about the file $1, said $2 times.
asked_times() { [ "$(grep -c "上書きの確認: $1: " "$E2E_TMP/out")" -eq "$2" ]; }
magic() { [ "$(head -c 4 "$1")" = KTSX ]; }

e2e_start_x 1280x1024
# Started from elsewhere: the program finds its working folder itself.
cd /
e2e_start_program "$E2E_PROGRAM"
read -r WX WY < <(xdotool getwindowgeometry "$E2E_WIN" | awk -F'[ ,]+' '/Position/ {print $3, $4}')
e2e_move 1010 400
# The sample loaded at the first update: a night landscape below the bar.
bright() { shot "$1"; [ "$(awk '{print $1 + $2 + $3}' <<<"$(mean "$1" 400 300 300 200)")" -ge 60 ]; }
blue() { shot "$1"; near "$(mean "$1" 100 100 450 300)" 32 64 192 30; }
e2e_poll 30 bright start || {
  kill -0 "$E2E_PID" || { cat "$E2E_TMP/out" >&2; fail "the program ended at start-up"; }
  fail "no sample picture: $(mean start 400 300 300 200)"
}

# SAVE of the sample as it came, in the working folder whose name CP932
# cannot write: its dialogue files are stored as the sample stores them.
press_until 203 8 test -s "$work/sav/mine.sav" || { cat "$E2E_TMP/out" >&2; fail "the sample was not saved"; }
names=$(stored_names "$work/sav/mine.sav")
[ "$names" = "$(stored_names "$work/sav/sample01.sav")" ] || fail "dialogue paths stored otherwise: ${names//$'\n'/ }"
grep -qxF '.\text\traveler.txt' <<<"$names" || fail "no .\\text\\traveler.txt stored"
# A new file gets the mode any new file gets.
[ "$(stat -c %a "$work/sav/mine.sav")" = "$(printf '%o' $((0666 & ~$(umask))))" ] ||
  fail "a new file of mode $(stat -c %a "$work/sav/mine.sav")"

press_until 37 8 blue picture || fail "the picture from café is not shown"  # LOAD CG

press_until 203 8 asked_times été.sav 1 || fail "SAVE over été.sav asked nothing"  # SAVE, answered No
cmp -s "$cafe/été.sav" "$work/sav/sample01.sav" || fail "été.sav changed after No"

arrangement_loaded() { ! blue "$1" && bright "$1"; }
press_until 151 8 arrangement_loaded loaded || fail "the arrangement from café was not loaded"  # LOAD

# SAVE over a file only its owner could read, answered Yes: it stays so.
press_until 203 8 magic "$cafe/private.sav" || fail "private.sav was not replaced"
asked_times private.sav 1 || fail "SAVE over private.sav asked otherwise"
[ "$(stat -c %a "$cafe/private.sav")" = 600 ] || fail "private.sav became $(stat -c %a "$cafe/private.sav")"

# SAVE of "notes" beside notes.sav, answered Yes: one question, about
# notes.sav, the file written; "notes" is left as it was.
press_until 203 8 magic "$cafe/notes.sav" || fail "notes.sav was not replaced"
asked_times notes.sav 1 || fail "SAVE of notes asked otherwise about notes.sav"
[ ! -e "$E2E_TMP/zenity-asked" ] || fail "the chooser asked about $(cat "$E2E_TMP/zenity-asked")"
! grep -q "上書きの確認: notes: " "$E2E_TMP/out" || fail "asked about notes, which is not written"
[ "$(cat "$cafe/notes")" = notes ] || fail "notes changed"

# LOAD and LOAD CG of a long name that is no arrangement, no picture: the
# box names it over lines that keep it on the screen ("é" shows as "??").
shown=${cafe//é/??}
press_until 151 8 box_names "ファイルがロードできませんでした。" "$shown/$long.sav" ||
  { cat "$E2E_TMP/out" >&2; fail "LOAD of a long name that is no arrangement said otherwise"; }
press_until 37 8 box_names "ファイルがロードできませんでした。" "$shown/$long.png" ||
  { cat "$E2E_TMP/out" >&2; fail "LOAD CG of a long name that is no picture said otherwise"; }
bright picture_kept || fail "the picture shown went"

grep -q "fatal\|cannot" "$E2E_TMP/out" && { cat "$E2E_TMP/out" >&2; fail "errors reported"; }
grep -q "台詞ファイルのパス" "$E2E_TMP/out" && { cat "$E2E_TMP/out" >&2; fail "a dialogue path refused"; }

"$TL_SEND_CLOSE" "$E2E_WIN"
e2e_expect_exit 0
echo "23 passed, 0 failed"
