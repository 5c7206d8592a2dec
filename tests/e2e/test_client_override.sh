#!/usr/bin/env bash
# "CLIENTW" in "KT52.CF" replaces only the width of the chosen client size,
# also on the line after a comment.
source "$TL_E2E_LIB"
program=$1

# A copy of the working folder whose configuration sets the width.
work="$E2E_TMP/work"
e2e_working_copy "$program" "$work"
printf '#client-size\nCLIENTW 700\n' >>"$work/KT52.CF"

e2e_start_x 1280x1024
e2e_start_program "$E2E_PROGRAM"
# Read once the program draws, so that a size it gave the window after making
# it counts too.
e2e_frames
geometry=$(xdotool getwindowgeometry "$E2E_WIN" | awk '/Geometry/ {print $2}')
[ "$geometry" = "700x768" ] || fail "window is $geometry, wanted 700x768"
kill -TERM "$E2E_PID"
e2e_expect_exit 0
echo "1 passed, 0 failed"
