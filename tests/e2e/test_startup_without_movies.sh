#!/usr/bin/env bash
# The program does not link the movie libraries: it starts, and shows the
# sample picture, also where they cannot be found. The start-up trace ends
# the run after the first frame that shows the picture.
source "$TL_E2E_LIB"
e2e_working_copy "$1" "$E2E_TMP/work"
program=$E2E_PROGRAM

if readelf -d "$program" | grep NEEDED | grep -E 'libav(format|codec|util)|libswscale'; then
  fail "the program links the movie libraries"
fi

e2e_start_x 1280x1024
code=0
TL_MOVIE_LIBRARY_DIR=/nonexistent/movie-libraries TL_STARTUP_TRACE=1 timeout 60 "$program" >"$E2E_TMP/out" 2>&1 ||
  code=$?
[ "$code" -eq 0 ] || { cat "$E2E_TMP/out" >&2; fail "exit code $code, wanted 0"; }
grep -Eq '^startup main=[1-9][0-9]* .*picture_end=[1-9][0-9]* first_present=[1-9][0-9]*$' "$E2E_TMP/out" ||
  { cat "$E2E_TMP/out" >&2; fail "the sample picture was never presented"; }
echo "1 passed, 0 failed"
