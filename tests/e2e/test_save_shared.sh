#!/usr/bin/env bash
# SAVE in folders shared with other users, the program run by an ordinary
# user who belongs to the group that shares them, each file asked about and
# answered Yes. Over its own 0600 file with an access control list entry
# that lets another user read and write it, and an attribute of its own:
# the file keeps both, and its group still may not read it. Over another
# user's 0644 file, which it may not write: a box says whose it is, and the
# file stays as it was. Over another user's 0664 file: written in place, it
# stays theirs, the same file under both its names. In a sticky folder, as
# /tmp is: a new name is saved, and another user's file is refused with the
# same box, not one that says the folder cannot be written. Over another
# user's 0664 file on a full disk: a box says so, and not a byte of the
# file changed. Every box names its file as it is spelled ("partagé").
# In a mount namespace of its own, as root, where the users are given names
# (the session bus asks for one) and the full disk is a small file system.
E2E_PRIVATE_SHM=1
source "$TL_E2E_LIB"
program=$1
if [ -z "${E2E_SHM_TRIED:-}" ]; then
  echo "other users and a mount namespace need root: skipped"
  exit 77
fi

saver=4501 other=4502 group=4500
cp /etc/passwd "$E2E_TMP/passwd"
cp /etc/group "$E2E_TMP/group"
printf 'tl-saver:x:%s:%s::%s:/bin/sh\ntl-other:x:%s:%s::/:/bin/sh\n' \
  "$saver" "$saver" "$E2E_TMP/home" "$other" "$other" >>"$E2E_TMP/passwd"
printf 'tl-saver:x:%s:\ntl-other:x:%s:\ntl-shared:x:%s:tl-saver,tl-other\n' "$saver" "$other" "$group" \
  >>"$E2E_TMP/group"
mount --bind "$E2E_TMP/passwd" /etc/passwd
mount --bind "$E2E_TMP/group" /etc/group

work="$E2E_TMP/work"
e2e_working_copy "$program" "$work"
mkdir -p "$E2E_TMP/home"
# The group's folder, new files in it the group's.
shared="$E2E_TMP/partagé"
mkdir "$shared"
chown "root:$group" "$shared"
chmod 2775 "$shared"
printf 'mine' >"$shared/acl.sav"
chown "$saver:$group" "$shared/acl.sav"
chmod 600 "$shared/acl.sav"
setfacl -m "u:$other:rw" "$shared/acl.sav"
setfattr -n user.origin -v "café" "$shared/acl.sav"
acl_before=$(getfacl -cp "$shared/acl.sav")
attributes_before=$(getfattr --absolute-names -d -m 'user\.' "$shared/acl.sav")
for mode in 644 664; do
  printf 'theirs %s' "$mode" >"$shared/leurs$mode.sav"
  chown "$other:$group" "$shared/leurs$mode.sav"
  chmod "$mode" "$shared/leurs$mode.sav"
done
ln "$shared/leurs664.sav" "$shared/aussi.sav"
inode=$(stat -c %i "$shared/leurs664.sav")
sticky="$E2E_TMP/tmp"
mkdir "$sticky"
chmod 1777 "$sticky"
printf 'theirs' >"$sticky/leur.sav"
chown "$other:$other" "$sticky/leur.sav"
full="$E2E_TMP/plein"
mkdir "$full"
if mount -t tmpfs -o "size=256k,mode=2775,gid=$group" tmpfs "$full"; then
  E2E_MOUNTED=$full
  printf 'theirs' >"$full/leur.sav"
  chown "$other:$group" "$full/leur.sav"
  chmod 664 "$full/leur.sav"
  dd if=/dev/zero of="$full/fill" bs=4k 2>/dev/null || true
fi
# The stand-in chooser keeps its answers beside it, where the user writes.
e2e_zenity_answers "$shared/acl" "$shared/leurs644" "$shared/leurs664" "$sticky/leur" "$sticky/mien" "$full/leur"
printf '%s\n' yes yes yes yes yes >"$E2E_TMP/replies"
export TL_MESSAGEBOX_ANSWERS="$E2E_TMP/replies"
chown "$saver:$saver" "$E2E_TMP"
chown -R "$saver:$saver" "$E2E_TMP/bin" "$E2E_TMP/answers" "$E2E_TMP/home" "$work"
chmod 755 "$E2E_TMP"

magic() { [ "$(head -c 4 "$1" 2>/dev/null)" = KTSX ]; }
failed() { e2e_box_names "ファイルがセーブできませんでした。" "$1$2"; }

e2e_start_x 1280x1024
# In a session of its own, with a session bus of its own: however the test
# ends, the bus goes with the program.
e2e_start_program setsid env HOME="$E2E_TMP/home" setpriv --reuid="$saver" --regid="$saver" --groups="$group" \
  --inh-caps=-all dbus-run-session -- "$E2E_PROGRAM"
session=$E2E_PID
trap 'kill -- -"$session" 2>/dev/null || true; e2e_cleanup' EXIT
# The viewer reads the buttons once its first update has loaded the sample,
# which its second then shows: a press before would be held from the start,
# never seen going down.
sample_shown() {
  import -window "$E2E_WIN" "$E2E_TMP/shot.png" &&
    [ "$(convert "$E2E_TMP/shot.png" -crop 400x300+300+200 -resize '1x1!' -format '%[fx:int(255*(r+g+b))]' info:)" \
      -ge 60 ]
}
e2e_poll 60 sample_shown || fail "no sample picture"

# Its own file with an entry for another user: both kept, and the group's
# bits still the list's mask, not a right of the group.
e2e_press_until 203 8 magic "$shared/acl.sav" || { cat "$E2E_TMP/out" >&2; fail "acl.sav was not replaced"; }
[ "$(getfacl -cp "$shared/acl.sav")" = "$acl_before" ] ||
  fail "the access list became: $(getfacl -cp "$shared/acl.sav" | tr '\n' ' ')"
[ "$(getfattr --absolute-names -d -m 'user\.' "$shared/acl.sav")" = "$attributes_before" ] || fail "user.origin was not kept"
[ "$(stat -c %u:%g "$shared/acl.sav")" = "$saver:$group" ] || fail "acl.sav now owned by $(stat -c %u:%g "$shared/acl.sav")"

# Another user's file it may not write: refused, and kept.
others_file="このファイルは他のユーザーのもので、書き込めません"
e2e_press_until 203 8 failed "$others_file" "$shared/leurs644.sav" ||
  { cat "$E2E_TMP/out" >&2; fail "SAVE over leurs644.sav said otherwise"; }
[ "$(cat "$shared/leurs644.sav")" = "theirs 644" ] || fail "leurs644.sav changed"
[ "$(stat -c %u:%g:%a "$shared/leurs644.sav")" = "$other:$group:644" ] || fail "leurs644.sav is no longer as it was"

# Another user's file it may write: written in place, still theirs, and the
# same file under both its names.
e2e_press_until 203 8 magic "$shared/leurs664.sav" || { cat "$E2E_TMP/out" >&2; fail "leurs664.sav was not written"; }
[ "$(stat -c %u:%g:%a:%i "$shared/leurs664.sav")" = "$other:$group:664:$inode" ] ||
  fail "leurs664.sav is now $(stat -c %u:%g:%a:%i "$shared/leurs664.sav")"
cmp -s "$shared/leurs664.sav" "$shared/aussi.sav" || fail "aussi.sav is no longer the same file"

# A sticky folder: another user's file refused as theirs, a new name saved.
e2e_press_until 203 8 failed "$others_file" "$sticky/leur.sav" ||
  { cat "$E2E_TMP/out" >&2; fail "SAVE over the sticky folder's leur.sav said otherwise"; }
[ "$(cat "$sticky/leur.sav")" = theirs ] || fail "the sticky folder's leur.sav changed"
e2e_press_until 203 8 magic "$sticky/mien.sav" || { cat "$E2E_TMP/out" >&2; fail "mien.sav was not saved"; }
[ "$(stat -c %u "$sticky/mien.sav")" = "$saver" ] || fail "mien.sav is not the user's"
! grep -q "このフォルダには書き込めません" "$E2E_TMP/out" || fail "a folder was said to be one that cannot be written"

# A full disk: refused before a byte of the file changed.
passed=19
if [ -n "$E2E_MOUNTED" ]; then
  e2e_press_until 203 8 failed "ディスクの空きが足りません" "$full/leur.sav" ||
    { cat "$E2E_TMP/out" >&2; fail "SAVE onto the full disk said otherwise"; }
  [ "$(cat "$full/leur.sav")" = theirs ] || fail "leur.sav on the full disk changed"
else
  echo "no small file system can be mounted here: the full disk is not checked"
  passed=17
fi
[ -z "$(find "$shared" "$sticky" "$full" -name '.tl*')" ] || fail "a temporary file was left"

"$TL_SEND_CLOSE" "$E2E_WIN"
e2e_expect_exit 0
echo "$passed passed, 0 failed"
