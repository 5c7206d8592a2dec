#!/usr/bin/env bash
# The program works from any folder a user has: installed in a folder named
# with kana, a letter CP932 cannot write ("ü") and a space, it starts, SAVEs
# the sample as it came, its dialogue files stored relative to the working
# folder as the sample stores them, LOAD CGs a picture and LOADs an
# arrangement from a folder named "café", and asks before SAVE replaces a
# file there, naming it as it is spelled. A file only its owner could read
# stays so when SAVE replaces it; SAVE of "notes" beside notes.sav asks once,
# about notes.sav; LOAD and LOAD CG of a long name in café that is no
# arrangement or no picture name it as it is spelled, in a box that stays
# on the screen.
# The sample's dialogue files are one missing, one that may not be read and
# one refused for a line of 300 columns: each box names its file, the line
# over lines that keep it on the screen, and SAVE keeps every path as the
# sample stores it. SAVE onto a chain of symbolic links and onto a dangling
# link writes the file each names, the links stay links, and the file
# written keeps its mode and owner (another user's, which the program's
# group may write); the dangling link, whose file is not there yet, gets no
# question. SAVE onto a folder of a 200-byte path
# names it in a box that stays on the screen; a dialogue file chosen with
# NAME below a folder named with "ü" is refused by SAVE, named as it is
# spelled.
source "$TL_E2E_LIB"
program=$1

work="$E2E_TMP/テスト jürgen"
cafe="$E2E_TMP/café"
mkdir -p "$cafe"
e2e_working_copy "$program" "$work"
rm "$work/text/boatman.txt"
chmod 000 "$work/text/hutkeeper.txt"
line300="Once upon a time $(printf 'x%.0s' $(seq 283))"
printf '#NAME\r\n[girl]\r\n%s\r\n' "$line300" >"$work/text/girl.txt"
# Links in café to an arrangement in another folder: a chain of two, the
# last relative, and one whose file is not there yet.
target="$E2E_TMP/cible/réel.sav"
mkdir -p "$E2E_TMP/cible"
printf 'old' >"$target"
# Another user's, which the program's group may write, where the test may
# give it to them.
chmod 660 "$target"
owned=""
! chown 4321:"$(id -g)" "$target" 2>/dev/null || owned=1
ln -s ../cible/réel.sav "$cafe/lien.sav"
ln -s lien.sav "$cafe/chaîne.sav"
ln -s ../cible/neuf.sav "$cafe/perdu.sav"
folder200="$E2E_TMP/$(printf 'f%.0s' $(seq $((200 - ${#E2E_TMP} - 1))))"
mkdir "$folder200"
[ "$(printf '%s' "$folder200" | wc -c)" -eq 200 ] || fail "the folder's path is not 200 bytes"
uber="$E2E_TMP/über"
mkdir -p "$uber"
printf '#NAME\r\n[Mina]\r\n#TEXT1\r\n[hello]\r\n' >"$uber/grüße.txt"
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
# LOAD, SAVE over the private file, SAVE of "notes", SAVE onto the chain of
# links, onto the dangling link and onto the folder, LOAD and LOAD CG of the
# long names, NAME of grüße.txt and SAVE.
e2e_zenity_answers "$work/sav/mine" "$cafe/bleu.png" "$cafe/été" "$cafe/été.sav" "$cafe/private" "$cafe/notes" \
  "$cafe/chaîne" "$cafe/perdu" "$folder200" "$cafe/$long.sav" "$cafe/$long.png" "$uber/grüße.txt" "$cafe/ü"
# The program's own questions before a file is replaced: over été.sav, over
# private.sav, over notes.sav and over chaîne.sav; none over perdu.sav,
# whose file is not there.
printf '%s\n' no yes yes yes >"$E2E_TMP/replies"
export TL_MESSAGEBOX_ANSWERS="$E2E_TMP/replies"
# The answers the chooser has not given yet.
answers_left() { [ "$(tr -cd '\0' <"$E2E_TMP/answers" | wc -c)" -eq "$1" ]; }

# A shot that fails leaves no file, rather than an older shot to be read.
shot() {
  rm -f "$E2E_TMP/root.png" "$E2E_TMP/$1.png"
  import -window root "$E2E_TMP/root.png" && convert "$E2E_TMP/root.png" -crop "1024x768+$WX+$WY" +repage "$E2E_TMP/$1.png"
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
# The program's question about the file $1, said $2 times.
asked_times() { [ "$(grep -c "上書きの確認: $1: " "$E2E_TMP/out")" -eq "$2" ]; }
magic() { [ "$(head -c 4 "$1" 2>/dev/null)" = KTSX ]; }

e2e_start_x 1280x1024
# Started from elsewhere: the program finds its working folder itself. Root
# may read every file: the program runs without that right, as a user does,
# so that the file of mode 000 cannot be read.
cd /
runner=()
as_user=(setpriv --bounding-set -dac_override,-dac_read_search)
if [ "$(id -u)" = 0 ] && "${as_user[@]}" true 2>/dev/null; then
  runner=("${as_user[@]}")
fi
e2e_start_program "${runner[@]}" "$E2E_PROGRAM"
read -r WX WY < <(xdotool getwindowgeometry "$E2E_WIN" | awk -F'[ ,]+' '/Position/ {print $3, $4}')
e2e_move 1010 400
# The sample loaded at the first update: a night landscape below the bar.
bright() { shot "$1" && [ "$(awk '{print $1 + $2 + $3}' <<<"$(mean "$1" 400 300 300 200)")" -ge 60 ]; }
blue() { shot "$1" && near "$(mean "$1" 100 100 450 300)" 32 64 192 30; }
e2e_poll 30 bright start || {
  kill -0 "$E2E_PID" || { cat "$E2E_TMP/out" >&2; fail "the program ended at start-up"; }
  fail "no sample picture: $(mean start 400 300 300 200)"
}

# SAVE of the sample as it came, in the working folder whose name CP932
# cannot write: its dialogue files are stored as the sample stores them.
e2e_press_until 203 8 test -s "$work/sav/mine.sav" || { cat "$E2E_TMP/out" >&2; fail "the sample was not saved"; }
names=$(stored_names "$work/sav/mine.sav")
[ "$names" = "$(stored_names "$work/sav/sample01.sav")" ] || fail "dialogue paths stored otherwise: ${names//$'\n'/ }"
grep -qxF '.\text\traveler.txt' <<<"$names" || fail "no .\\text\\traveler.txt stored"
grep -qxF '.\text\boatman.txt' <<<"$names" || fail "the path of a missing dialogue file dropped"
grep -qxF '.\text\hutkeeper.txt' <<<"$names" || fail "the path of a dialogue file that may not be read dropped"
grep -qxF '.\text\girl.txt' <<<"$names" || fail "the path of a refused dialogue file dropped"
# Each of those said why, naming its file.
e2e_box_names "定義ファイルがみつかりません" "$work/text/boatman.txt" || { cat "$E2E_TMP/out" >&2; fail "no box for boatman.txt"; }
if "${runner[@]}" test -r "$work/text/hutkeeper.txt"; then
  echo "the program may read a file of mode 000 here: its box is not checked"
else
  e2e_box_names "定義ファイルが読み込めません" "$work/text/hutkeeper.txt" ||
    { cat "$E2E_TMP/out" >&2; fail "no box for hutkeeper.txt"; }
fi
e2e_box_names "コマンドが不正です" "$work/text/girl.txt$line300" ||
  { cat "$E2E_TMP/out" >&2; fail "the line of 300 columns quoted otherwise"; }
# A new file gets the mode any new file gets.
[ "$(stat -c %a "$work/sav/mine.sav")" = "$(printf '%o' $((0666 & ~$(umask))))" ] ||
  fail "a new file of mode $(stat -c %a "$work/sav/mine.sav")"

e2e_press_until 37 8 blue picture || fail "the picture from café is not shown"  # LOAD CG

e2e_press_until 203 8 asked_times été.sav 1 || fail "SAVE over été.sav asked nothing"  # SAVE, answered No
cmp -s "$cafe/été.sav" "$work/sav/sample01.sav" || fail "été.sav changed after No"

arrangement_loaded() { ! blue "$1" && bright "$1"; }
e2e_press_until 151 8 arrangement_loaded loaded || fail "the arrangement from café was not loaded"  # LOAD

# SAVE over a file only its owner could read, answered Yes: it stays so.
e2e_press_until 203 8 magic "$cafe/private.sav" || fail "private.sav was not replaced"
asked_times private.sav 1 || fail "SAVE over private.sav asked otherwise"
[ "$(stat -c %a "$cafe/private.sav")" = 600 ] || fail "private.sav became $(stat -c %a "$cafe/private.sav")"

# SAVE of "notes" beside notes.sav, answered Yes: one question, about
# notes.sav, the file written; "notes" is left as it was.
e2e_press_until 203 8 magic "$cafe/notes.sav" || fail "notes.sav was not replaced"
asked_times notes.sav 1 || fail "SAVE of notes asked otherwise about notes.sav"
[ ! -e "$E2E_TMP/zenity-asked" ] || fail "the chooser asked about $(cat "$E2E_TMP/zenity-asked")"
! grep -q "上書きの確認: notes: " "$E2E_TMP/out" || fail "asked about notes, which is not written"
[ "$(cat "$cafe/notes")" = notes ] || fail "notes changed"

# SAVE onto a chain of links in café, answered Yes: the arrangement in
# the folder beside it that the last link names, which keeps its mode and
# owner; both links stay links.
e2e_press_until 203 8 magic "$target" || { cat "$E2E_TMP/out" >&2; fail "SAVE onto the chain of links wrote elsewhere"; }
asked_times chaîne.sav 1 || fail "SAVE onto chaîne.sav asked otherwise"
[ -L "$cafe/chaîne.sav" ] && [ "$(readlink "$cafe/chaîne.sav")" = lien.sav ] || fail "chaîne.sav is a link no more"
[ -L "$cafe/lien.sav" ] && [ "$(readlink "$cafe/lien.sav")" = ../cible/réel.sav ] || fail "lien.sav is a link no more"
[ "$(stat -c %a "$target")" = 660 ] || fail "réel.sav became $(stat -c %a "$target")"
[ -z "$owned" ] || [ "$(stat -c %u:%g "$target")" = "4321:$(id -g)" ] ||
  fail "réel.sav now owned by $(stat -c %u:%g "$target")"
[ "$(stored_names "$target")" = "$(stored_names "$work/sav/sample01.sav")" ] || fail "réel.sav stores other paths"
# SAVE onto a dangling link: the file it names is made, and nothing was
# there to ask about.
e2e_press_until 203 8 magic "$E2E_TMP/cible/neuf.sav" ||
  { cat "$E2E_TMP/out" >&2; fail "SAVE onto the dangling link made nothing"; }
[ -L "$cafe/perdu.sav" ] || fail "perdu.sav is a link no more"
asked_times perdu.sav 0 || fail "SAVE onto the dangling link asked about perdu.sav"
[ -z "$(find "$E2E_TMP/cible" "$cafe" -name '.tl*')" ] || fail "a temporary file was left"

# SAVE onto a folder whose path is 200 bytes: the box names it over lines
# that keep it on the screen.
e2e_press_until 203 8 e2e_box_names "名前を付けて保存" "同じ名前のフォルダがあるため保存できません$folder200" ||
  { cat "$E2E_TMP/out" >&2; fail "SAVE onto the folder said otherwise"; }
[ -z "$(ls "$folder200")" ] || fail "written in the folder"

# LOAD and LOAD CG of a long name that is no arrangement, no picture: the
# box names it as the file system spells it, over lines that keep it on the
# screen.
e2e_press_until 151 8 e2e_box_names "ファイルがロードできませんでした。" "$cafe/$long.sav" ||
  { cat "$E2E_TMP/out" >&2; fail "LOAD of a long name that is no arrangement said otherwise"; }
e2e_press_until 37 8 e2e_box_names "ファイルがロードできませんでした。" "$cafe/$long.png" ||
  { cat "$E2E_TMP/out" >&2; fail "LOAD CG of a long name that is no picture said otherwise"; }
bright picture_kept || fail "the picture shown went"

grep -q "fatal\|cannot" "$E2E_TMP/out" && { cat "$E2E_TMP/out" >&2; fail "errors reported"; }
grep -q "台詞ファイルのパス" "$E2E_TMP/out" && { cat "$E2E_TMP/out" >&2; fail "a dialogue path refused"; }

# POINT makes a point on the button; dragged down by its circle, its centre
# lies at (300, 388), where a right click opens its panel and NAME takes
# grüße.txt. SAVE then refuses its path, named as the file system spells it.
e2e_click 99 8
e2e_drag 99 40 300 420
e2e_click 300 388 3
e2e_move 1010 400
e2e_frames
e2e_click 420 398
e2e_poll 30 answers_left 1 || fail "NAME asked for no file"
e2e_click 310 538  # CLOSE
e2e_press_until 203 8 e2e_box_names "台詞ファイルのパスにセーブデータに書けない文字があります" "$uber/grüße.txt" ||
  { cat "$E2E_TMP/out" >&2; fail "the path below über refused otherwise"; }
[ ! -e "$cafe/ü.sav" ] || fail "ü.sav written"

"$TL_SEND_CLOSE" "$E2E_WIN"
e2e_expect_exit 0
echo "44 passed, 0 failed"
