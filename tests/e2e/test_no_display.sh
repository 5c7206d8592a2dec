#!/usr/bin/env bash
# Started where no display exists, the program says so and ends with exit
# code 1 instead of running invisibly.
source "$TL_E2E_LIB"
e2e_working_copy "$1" "$E2E_TMP/work"
program=$E2E_PROGRAM

unset DISPLAY WAYLAND_DISPLAY SDL_VIDEODRIVER
code=0
timeout 20 "$program" >"$E2E_TMP/out" 2>&1 || code=$?
[ "$code" -eq 1 ] || { cat "$E2E_TMP/out" >&2; fail "exit code $code, wanted 1"; }
grep -q "cannot open the display" "$E2E_TMP/out" || { cat "$E2E_TMP/out" >&2; fail "no message"; }
echo "2 passed, 0 failed"
