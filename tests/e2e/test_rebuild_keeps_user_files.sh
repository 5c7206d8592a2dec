#!/usr/bin/env bash
# A rebuild lays the shipped working folder out again the way the build does,
# without undoing what its user changed: an edited "KT52.CF", ".sav" and
# dialogue file stay, also when the shipped copy is newer; a file newly
# shipped, or one the user deleted, is laid out; the program's shaders follow
# the shipped copy.
source "$TL_E2E_LIB"

shipped="$E2E_TMP/data"
work="$E2E_TMP/work"
mkdir -p "$shipped"
cp -r "$TL_DATA_DIR"/. "$shipped"/
lay_out() { "$TL_CMAKE" -DFROM="$shipped" -DTO="$work" -P "$TL_LAYOUT_SCRIPT" || fail "the lay-out failed"; }

check() {  # check <description> <command...>
  local what=$1
  shift
  "$@" || fail "$what"
}

lay_out
check "the first lay-out copies everything" diff -r "$shipped" "$work"

printf 'CLIENTW 700\n' >>"$work/KT52.CF"
printf 'garbage' >>"$work/sav/sample01.sav"
printf '#NAME\r\n[x]\r\n' >"$work/text/girl.txt"
rm "$work/text/boatman.txt"
mkdir -p "$E2E_TMP/mine"
cp "$work/KT52.CF" "$work/sav/sample01.sav" "$work/text/girl.txt" "$E2E_TMP/mine"/
# The shipped copies newer than the user's, one file more, a changed shader.
touch -d '+1 hour' "$shipped/KT52.CF" "$shipped/sav/sample01.sav" "$shipped/text/girl.txt"
printf '#NAME\r\n[y]\r\n' >"$shipped/text/new.txt"
printf '\n// changed\n' >>"$shipped/bin/kts/vxx"
lay_out

check "KT52.CF kept" cmp "$E2E_TMP/mine/KT52.CF" "$work/KT52.CF"
check "sample01.sav kept" cmp "$E2E_TMP/mine/sample01.sav" "$work/sav/sample01.sav"
check "dialogue file kept" cmp "$E2E_TMP/mine/girl.txt" "$work/text/girl.txt"
check "deleted file laid out again" cmp "$shipped/text/boatman.txt" "$work/text/boatman.txt"
check "new file laid out" cmp "$shipped/text/new.txt" "$work/text/new.txt"
check "shader refreshed" cmp "$shipped/bin/kts/vxx" "$work/bin/kts/vxx"
