#!/usr/bin/env bash
# The program opens its window titled "Tamberlune", of class "KT" and with an
# icon, at the client size the screen chooses, and closing the window ends it
# with exit code 0.
source "$TL_E2E_LIB"
e2e_working_copy "$1" "$E2E_TMP/work"
program=$E2E_PROGRAM

e2e_start_x 1280x1024
e2e_start_program "$program"
# The program names and sizes its window as it makes it, then gives it its
# icon: all is done once it draws.
e2e_frames
geometry=$(xdotool getwindowgeometry "$E2E_WIN" | awk '/Geometry/ {print $2}')
[ "$geometry" = "1024x768" ] || fail "window is $geometry, wanted 1024x768"
class=$(xprop -id "$E2E_WIN" WM_CLASS)
[ "$class" = 'WM_CLASS(STRING) = "KT", "KT"' ] || fail "window class: $class"
xprop -id "$E2E_WIN" _NET_WM_ICON | grep -q "Icon (32 x 32)" || fail "the window has no icon"
# A second's frames, at the program's own pace.
e2e_frames 60
kill -0 "$E2E_PID" || fail "the program ended on its own"
"$TL_SEND_CLOSE" "$E2E_WIN"
e2e_expect_exit 0
echo "3 passed, 0 failed"
