#!/usr/bin/env bash
# A window destroyed from outside ends the program cleanly: exit code 1 and
# a message, never an abort.
source "$TL_E2E_LIB"
program=$1

e2e_start_x 1280x1024
e2e_start_program "$program"
sleep 1
xdotool windowclose "$E2E_WIN"
e2e_expect_exit 1
grep -q "window or the display connection was lost" "$E2E_TMP/out" || { cat "$E2E_TMP/out" >&2; fail "no message"; }
echo "2 passed, 0 failed"
