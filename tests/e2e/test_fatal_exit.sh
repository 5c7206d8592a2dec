#!/usr/bin/env bash
# A missing sound file is fatal: the program ends with exit code 1 and says
# the three codes (3, 258, 0) on stderr.
source "$TL_E2E_LIB"
program=$1

work="$E2E_TMP/work"
mkdir -p "$work"
cp -r "$TL_DATA_DIR"/. "$work"/
cp "$program" "$work"/
find "$work" -maxdepth 1 -iname '*.wav' -delete

e2e_start_x 1280x1024
"$work/$(basename "$program")" >"$E2E_TMP/out" 2>&1 &
E2E_PID=$!
e2e_expect_exit 1
grep -q "fatal error 3 258 0" "$E2E_TMP/out" || { cat "$E2E_TMP/out" >&2; fail "no fatal error codes on stderr"; }
echo "1 passed, 0 failed"
