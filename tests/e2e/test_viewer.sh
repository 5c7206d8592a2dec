#!/usr/bin/env bash
# The viewer as a user drives it: the sample arrangement below the menu bar,
# a new point dragged and resized, its panel stepped and given a dialogue
# file, PLAY with the dialogue box and LEVEL, LAG, ORDER, STOP, SAVE, LOAD CG
# of a PNG and a JPEG with a SAVE over the saved file between them, which
# asks first, and LOAD of the saved arrangement. Then SAVE and LOAD off the
# clean path: a chooser killed while it asks, names of 255 bytes, with dots
# and in capitals, LOAD of a name in capitals, SAVEs over files whose names
# differ in case, onto a folder, of a two-line answer and of a name too long,
# a cancelled NAME and a SAVE into a folder that cannot be written to. Every
# check reads colours of the screen, with a tolerance, the bytes saved or
# what the program says; each input is held until the program has seen it,
# and each check waits, within a deadline, for the screen it reads.
# In a mount namespace of its own, as root, so that a read-only folder can be
# mounted for that last SAVE.
E2E_PRIVATE_SHM=1
source "$TL_E2E_LIB"
program=$1

# A copy of the working folder, so that the saved file stays in the test's.
work="$E2E_TMP/work"
e2e_working_copy "$program" "$work"
convert -size 300x200 xc:'#2040c0' "$E2E_TMP/blue.png"
convert -size 200x300 xc:'#c04020' -quality 95 "$E2E_TMP/red.jpg"
saved="$E2E_TMP/mine.sav"
printf -v long '%251s' ''
long=${long// /a}  # 255 bytes with ".sav", the most a name can hold
# The file dialogs in the order they open, answered as zenity would: NAME;
# SAVE of a name typed without ".sav"; LOAD CG; SAVE of that name again;
# LOAD CG; LOAD; SAVE killed; three SAVEs; LOAD CG; LOAD; SAVE of "up" twice,
# of "SAMPLE01.SAV", onto a folder, of two lines and of a name too long;
# NAME cancelled; SAVE into the read-only folder.
e2e_zenity_answers "$work/text/girl.txt" "$E2E_TMP/mine" "$E2E_TMP/blue.png" "$E2E_TMP/mine" "$E2E_TMP/red.jpg" \
  "$saved" '!kill' "$E2E_TMP/$long" "$E2E_TMP/2024.12.08" "$E2E_TMP/UP.SAV" "$E2E_TMP/blue.png" "$E2E_TMP/UP.SAV" \
  "$E2E_TMP/up" "$E2E_TMP/up" "$work/sav/SAMPLE01.SAV" "$E2E_TMP/dir" "$E2E_TMP/foo"$'\n'"bar" "$E2E_TMP/${long}xx" \
  "" "$E2E_TMP/ro/x"
# kdialog behind zenity, which must never be asked while zenity starts.
printf '#!/bin/sh\ntouch %q\necho %q\n' "$E2E_TMP/kdialog-asked" "$E2E_TMP/second" >"$E2E_TMP/bin/kdialog"
chmod +x "$E2E_TMP/bin/kdialog"
read_only=1
e2e_read_only_folder "$E2E_TMP/ro" || read_only=""
# The program's own questions before a file is replaced: over mine.sav, over
# UP.SAV twice and over sample01.sav.
printf '%s\n' no no yes no >"$E2E_TMP/replies"
export TL_MESSAGEBOX_ANSWERS="$E2E_TMP/replies"

passed=0
check() {  # check <description> <command...>
  local what=$1
  shift
  "$@" || fail "$what"
  passed=$((passed + 1))
}

# The mouse away from every button and point.
rest() {
  e2e_move 1010 400
  e2e_frames
}
key() {  # key <name>: pressed, held until seen, released until seen
  xdotool keydown --window "$E2E_WIN" "$1"
  e2e_frames
  xdotool keyup --window "$E2E_WIN" "$1"
  e2e_frames
}

# Screenshots of the window's client area (1024 x 768), kept unpacked, which
# takes a tenth of the time PNG does: checks read the screen again and again.
# A shot that fails leaves no file, rather than an older shot to be read.
shot() {
  rm -f "$E2E_TMP/$1.miff"
  import -window root -crop "1024x768+$WX+$WY" +repage "$E2E_TMP/$1.miff"
}
# Pixels of a box (w h x y) within a colour distance (percent) of a colour.
count() {  # count <shot> <colour> <fuzz%> <w> <h> <x> <y>
  convert "$E2E_TMP/$1.miff" -crop "$4x$5+$6+$7" +repage -alpha set -fuzz "$3%" -transparent "$2" \
    -alpha extract -negate -format '%[fx:round(mean*w*h)]' info:
}
# The same pixels as a black and white picture.
mask() {  # mask <shot> <colour> <fuzz%> <w> <h> <x> <y> <out>
  convert "$E2E_TMP/$1.miff" -crop "$4x$5+$6+$7" +repage -alpha set -fuzz "$3%" -transparent "$2" \
    -alpha extract -negate "$E2E_TMP/$8.miff"
}
# Mean colour of a box as "r g b", 0..255.
mean() {  # mean <shot> <w> <h> <x> <y>
  convert "$E2E_TMP/$1.miff" -crop "$2x$3+$4+$5" +repage -alpha off -resize 1x1! -depth 8 txt:- |
    sed -n 's/.*(\([0-9.]*\),\([0-9.]*\),\([0-9.]*\).*/\1 \2 \3/p' | awk '{printf "%d %d %d", $1, $2, $3}'
}
near() {  # near "r g b" r g b tolerance
  local r g b
  read -r r g b <<<"$1"
  [ $(((r - $2) ** 2 + (g - $3) ** 2 + (b - $4) ** 2)) -le $(($5 ** 2)) ]
}
differ() {  # differ <shot a> <shot b> <w> <h> <x> <y> [fuzz%]: pixels that differ
  compare -metric AE -fuzz "${7:-8}%" -extract "$3x$4+$5+$6" "$E2E_TMP/$1.miff" "$E2E_TMP/$2.miff" null: 2>&1 |
    cut -d' ' -f1
}

# What a check reads may take the program more than the frame after the input
# to show, so the screen is read again, a frame later each time, for at most
# 60 s. A check that fails for good is then told by its description.
all_hold() {  # all_hold [<description> <check>]...
  while [ $# -gt 0 ]; do
    "$2" || return 1
    shift 2
  done
}
check_each() {  # check_each [<description> <check>]...
  while [ $# -gt 0 ]; do
    check "$1" "$2"
    shift 2
  done
}
# Takes the shot until every check holds of it, then checks each.
await() {  # await <shot> [<description> <check>]...
  local name=$1 until
  until=$(($(e2e_seconds) + 60))
  shift
  until shot "$name" && all_hold "$@"; do
    [ "$(e2e_seconds)" -lt "$until" ] || break
    e2e_frames 1
  done
  check_each "$@"
}
# For a screen that changes by itself (PLAY): the program is stopped while
# its shot is taken and read, and goes on by a frame between tries, so the
# checks see the frames right after the input however slowly they read them.
await_stopped() {  # await_stopped <shot> [<description> <check>]...
  local name=$1 until held
  until=$(($(e2e_seconds) + 60))
  shift
  while :; do
    kill -STOP "$E2E_PID"
    held=0
    shot "$name" && all_hold "$@" && held=1
    kill -CONT "$E2E_PID"
    [ "$held" = 0 ] && [ "$(e2e_seconds)" -lt "$until" ] || break
    e2e_frames 1
  done
  check_each "$@"
}
# Takes the shot until two in a row, a frame apart, are the same in the boxes
# given (w h x y each; the window when none is): the screen shows all that the
# input before gave, for a check that wants nothing changed or a shot that
# later checks compare against.
settle() {  # settle <shot> [w h x y]...
  local name=$1 until
  until=$(($(e2e_seconds) + 60))
  shift
  [ $# -gt 0 ] || set -- 1024 768 0 0
  rm -f "$E2E_TMP/$name.miff"
  while :; do
    e2e_frames 1
    if shot settle_next; then
      [ -e "$E2E_TMP/$name.miff" ] && same_boxes "$name" settle_next "$@" && return 0
      mv "$E2E_TMP/settle_next.miff" "$E2E_TMP/$name.miff"
    fi
    [ "$(e2e_seconds)" -lt "$until" ] || fail "the screen did not settle for $name"
  done
}
same_boxes() {  # same_boxes <shot a> <shot b> [w h x y]...
  local a=$1 b=$2
  shift 2
  while [ $# -gt 0 ]; do
    [ "$(differ "$a" "$b" "$1" "$2" "$3" "$4" 0)" -eq 0 ] || return 1
    shift 4
  done
}
not_said() { ! grep -q "$1" "$E2E_TMP/out"; }
said_times() { [ "$(grep -c "$1" "$E2E_TMP/out")" -eq "$2" ]; }
# A box's caption and first line, then a path over the lines that follow up
# to the next message: whole, and in lines of at most 80 bytes, which keep
# the box, as wide as its longest line, on the screen.
box_names() {  # box_names <caption: first line> <path>
  LC_ALL=C awk -v first="tamberlune: $1" -v path="$2" '
    $0 == first { on = 1; named = ""; wide = 0; next }
    on && /^tamberlune: / { on = 0 }
    on { named = named $0; if (length($0) > 80) wide = 1 }
    END { exit !(named == path && !wide) }' "$E2E_TMP/out"
}
at_least() { [ "$1" -ge "$2" ]; }
at_most() { [ "$1" -le "$2" ]; }

e2e_start_x 1280x1024
e2e_start_program "$E2E_PROGRAM"
read -r WX WY < <(xdotool getwindowgeometry "$E2E_WIN" | awk -F'[ ,]+' '/Position/ {print $3, $4}')
rest

# The sample: grey buttons in the bar, black between them, the picture below
# it (a night landscape, not black), green point circles on it.
button_grey() { near "$(mean start 4 12 2 2)" 128 128 128 20; }
black_between() { near "$(mean start 40 14 400 1)" 0 0 0 10; }
picture_below() { at_least "$(mean start 400 300 300 200 | awk '{print $1 + $2 + $3}')" 60; }
circles_drawn() { at_least "$(count start '#008000' 12 1024 752 0 16)" 300; }
await start \
  "LOAD CG button grey" button_grey \
  "black between the buttons" black_between \
  "picture below the bar" picture_below \
  "point circles drawn" circles_drawn

# POINT makes a point at the mouse, on the button; drag it down by its circle.
e2e_click 99 8
e2e_drag 99 40 300 420
settle moved
# The dragged point stays highlighted (red) under the mouse: centre (300, 388).
check "new point at its place" at_least "$(count moved '#ff0000' 12 130 130 235 323)" 40
# Its handle sits at the circle's right edge: drag it out to widen the circle.
e2e_drag 341 388 400 388
circle_widened() { at_least "$(count widened '#ff0000' 12 20 60 400 358)" 8; }
await widened "handle widens the circle" circle_widened
check "nothing there before" at_most "$(count moved '#ff0000' 12 20 60 400 358)" 2

# The panel: a right click at the point's centre opens it there.
e2e_click 300 388 3
rest
label_cells() { near "$(mean panel 60 4 302 390)" 128 128 128 40; }
value_cells() { near "$(mean panel 190 4 370 450)" 128 128 128 40; }
await panel "panel label cells" label_cells "panel value cells" value_cells
# Right arrows of NUMBER, TIME, EFEECT, EF SPD and EF LV, once each.
for row in 1 2 3 4 5; do
  case $row in 1 | 4 | 5) r=48 ;; 2) r=80 ;; 3) r=112 ;; esac
  e2e_click $((365 + r + 8)) $((388 + 20 * row + 10))
done
# NAME picks girl.txt; its speaker's name is then written in the value cell.
rest
settle unnamed
e2e_click 420 398
rest
speaker_shown() {
  at_least "$(($(count named '#000000' 25 190 18 366 389) - $(count unnamed '#000000' 25 190 18 366 389)))" 10
}
await named "NAME shows the speaker" speaker_shown
settle named
e2e_click 310 538  # CLOSE
rest
settle closed
check "panel closed" at_least "$(differ named closed 260 160 300 388)" 2000

# PLAY: the camera eases onto the first point in NUMBER order, the dialogue
# box shows a line in the first colour of the cycle, and LEVEL 1 is shown.
# The first point stays 300 frames: the shots are taken with the program
# stopped, so that they fall within them.
e2e_click 999 8
rest
camera_moved() { at_least "$(differ closed playing 1024 700 0 30)" 100000; }
box_frame() { near "$(mean playing 2 60 51 660)" 255 0 128 60; }
line_in_box() { at_least "$(count playing '#ff0080' 15 800 24 112 686)" 30; }
level1_red() { at_least "$(count playing '#ff0000' 10 60 18 964 748)" 20; }
await_stopped playing \
  "the camera moved" camera_moved \
  "dialogue box frame" box_frame \
  "a line in the box" line_in_box \
  "LEVEL 1 in red" level1_red
mask playing '#ff0000' 10 60 18 964 748 level1
xdotool windowfocus --sync "$E2E_WIN" 2>/dev/null || true
key space
level2_shown() { mask spaced '#ff0000' 10 60 18 964 748 level2 && at_least "$(differ level1 level2 60 18 0 0)" 5; }
await spaced "space shows LEVEL 2" level2_shown

# LAG and ORDER switch their labels.
settle before_switch 44 12 877 2 44 12 927 2
e2e_click 899 8
e2e_click 949 8
rest
lag_switched() { at_least "$(differ before_switch switched 44 12 877 2)" 5; }
order_switched() { at_least "$(differ before_switch switched 44 12 927 2)" 5; }
await switched "LAG label changed" lag_switched "ORDER became RAMDOM" order_switched

# STOP: the picture fits again, the dialogue box goes.
e2e_click 999 8
rest
settle stopped
check "no dialogue box" at_least "$(differ playing stopped 2 60 51 660)" 60
check "picture back in place" at_most "$(differ closed stopped 1024 300 0 16)" 2000

# SAVE writes the arrangement: 8 points, RAMDOM, the new point's settings.
# The name was typed without ".sav": the file gets it, and nothing was there
# to ask about.
e2e_click 203 8
rest
e2e_poll 10 test -s "$saved" || fail "nothing saved"
check "the name got .sav" [ ! -e "$E2E_TMP/mine" ]
check "saved magic" [ "$(head -c 4 "$saved")" = "KTSX" ]
read -r n order < <(od -An -t d4 -j 4 -N 8 "$saved")
check "eight points saved" [ "$n" = 8 ]
check "RAMDOM saved" [ "$order" = 0 ]
# The new point took the first free slot, after the sample's seven: its
# NUMBER, EFFECT, EF SPD, EF LV and TIME as stepped, and the dialogue path.
offset=12
for _ in 1 2 3 4 5 6 7; do
  offset=$((offset + 40 + $(od -An -t u4 -j $((offset + 36)) -N 4 "$saved")))
done
read -r _ _ _ _ number effect speed level seconds name_length < <(od -An -w40 -t u4 -j "$offset" -N 40 "$saved")
check "new point's settings saved" [ "$number $effect $speed $level $seconds" = "1 1 11 11 1" ]
stored_name=$(od -An -v -t u1 -j $((offset + 40)) -N "$name_length" "$saved" | xargs -n1 |
  while read -r b; do printf "\\x$(printf %02x $((b ^ 0xB3)))"; done)
# Inside the working folder, the path is stored relative to it.
check "its dialogue path saved" [ "$stored_name" = '.\text\girl.txt' ]
settle saved

cp "$saved" "$E2E_TMP/kept.sav"

# LOAD CG: a blue PNG fitted by width, then a red JPEG fitted by height.
e2e_click 37 8
rest
png_shown() { near "$(mean png 100 100 450 300)" 32 64 192 30; }
await png "PNG shown" png_shown
# SAVE of the same name: ".sav" makes it the saved file, which zenity was not
# asked about; the program asks, and No keeps the file byte for byte.
asked() { grep -q "上書きの確認: mine.sav: " "$E2E_TMP/out"; }
e2e_click 203 8
e2e_poll 10 asked || fail "SAVE over mine.sav asked nothing"
check "No keeps the file" cmp -s "$saved" "$E2E_TMP/kept.sav"
e2e_click 37 8
rest
jpeg_shown() { near "$(mean jpeg 100 100 200 300)" 192 64 32 30; }
jpeg_fitted() { near "$(mean jpeg 100 100 800 300)" 0 0 0 10; }
await jpeg "JPEG shown" jpeg_shown "JPEG fitted by height" jpeg_fitted

# LOAD the saved arrangement: the same screen as when it was saved.
e2e_click 151 8
rest
settle loaded
check "same arrangement" at_most "$(differ saved loaded 1024 752 0 16)" 500

# SAVE with zenity killed while it asks: a cancel. No box, nothing saved, and
# kdialog not asked in its place. The next SAVE shows that this one is over.
e2e_click 203 8
e2e_click 203 8
e2e_poll 10 test -s "$E2E_TMP/$long.sav" || fail "a name of 255 bytes was not saved"
check "no chooser after the killed one" [ ! -e "$E2E_TMP/kdialog-asked" ]
check "nothing saved by the killed chooser" [ ! -e "$E2E_TMP/second.sav" ]
check "no box after the killed chooser" not_said "zenity または kdialog"
# A name with dots gets ".sav"; one that ends in ".SAV" is saved as typed.
e2e_click 203 8
e2e_poll 10 test -s "$E2E_TMP/2024.12.08.sav" || fail "2024.12.08 was not saved as 2024.12.08.sav"
check "no file without .sav" [ ! -e "$E2E_TMP/2024.12.08" ]
e2e_click 203 8
e2e_poll 10 test -s "$E2E_TMP/UP.SAV" || fail "UP.SAV was not saved"
check "UP.SAV as typed" [ ! -e "$E2E_TMP/UP.SAV.sav" ]
# LOAD's filter offers UP.SAV: the arrangement comes back over a blue picture.
e2e_click 37 8
rest
png_again() { near "$(mean blue_again 100 100 450 300)" 32 64 192 30; }
await blue_again "PNG shown again" png_again
e2e_click 151 8
rest
settle up
check "UP.SAV offered and loaded" at_most "$(differ loaded up 1024 752 0 16)" 500

# SAVE of "up" lands on UP.SAV, whose name differs only in case: the program
# asks, naming UP.SAV; No keeps it, Yes replaces it, and no up.sav appears.
printf 'not replaced' >"$E2E_TMP/UP.SAV"
e2e_click 203 8
e2e_poll 10 said_times "上書きの確認: UP.SAV: " 1 || fail "SAVE of up asked nothing about UP.SAV"
check "No keeps UP.SAV" [ "$(cat "$E2E_TMP/UP.SAV")" = "not replaced" ]
e2e_click 203 8
e2e_poll 10 said_times "上書きの確認: UP.SAV: " 2 || fail "the second SAVE of up asked nothing"
replaced() { [ "$(head -c 4 "$E2E_TMP/UP.SAV")" = "KTSX" ]; }
check "Yes replaces UP.SAV" e2e_poll 10 replaced
check "no up.sav beside UP.SAV" [ ! -e "$E2E_TMP/up.sav" ]
# "SAMPLE01.SAV" lands on sample01.sav, which zenity was not asked about.
e2e_click 203 8
e2e_poll 10 said_times "上書きの確認: sample01.sav: " 1 || fail "SAVE of SAMPLE01.SAV asked nothing"
check "No keeps sample01.sav" cmp -s "$work/sav/sample01.sav" "$TL_DATA_DIR/sav/sample01.sav"
check "no SAMPLE01.SAV beside it" [ ! -e "$work/sav/SAMPLE01.SAV" ]
# SAVE onto a folder's name, and of an answer of two lines: a box each, and
# nothing written.
mkdir "$E2E_TMP/dir.sav"
e2e_click 203 8
check "a folder in the way named" e2e_poll 10 box_names "名前を付けて保存: 同じ名前のフォルダがあるため保存できません" \
  "$E2E_TMP/dir.sav"
check "nothing written in the folder" [ -z "$(ls "$E2E_TMP/dir.sav")" ]
check "nothing written beside it" [ ! -e "$E2E_TMP/dir" ]
e2e_click 203 8
check "two lines are no name" e2e_poll 10 grep -q "名前を付けて保存: 改行を含む名前は使えません" "$E2E_TMP/out"
check "nothing written for two lines" [ -z "$(find "$E2E_TMP" -maxdepth 1 -name 'foo*')" ]
# A name too long: the box says why first, and the path under it fits.
e2e_click 203 8
check "the cause first, then the path" e2e_poll 10 box_names \
  "ファイルがセーブできませんでした。: ファイル名が長すぎます" "$E2E_TMP/${long}xx.sav"

# NAME cancelled on the new point's panel, then SAVE into the read-only folder,
# whose message comes after any the NAME would have given.
e2e_click 300 388 3
rest
e2e_click 420 398
e2e_click 310 538
e2e_click 203 8
if [ -n "$read_only" ]; then
  check "the read-only folder named as the cause" e2e_poll 10 box_names \
    "ファイルがセーブできませんでした。: このフォルダには書き込めません" "$E2E_TMP/ro/x.sav"
  check "nothing in the read-only folder" [ -z "$(ls "$E2E_TMP/ro")" ]
else
  echo "no read-only folder can be made here: that SAVE is not checked"
  e2e_poll 10 test -e "$E2E_TMP/ro/x.sav" || fail "SAVE after the cancelled NAME did nothing"
fi
check "a cancelled NAME says nothing" not_said "ファイルが見つかりません"

kill -0 "$E2E_PID" || fail "the program ended on its own"
"$TL_SEND_CLOSE" "$E2E_WIN"
e2e_expect_exit 0
echo "$passed passed, 0 failed"
