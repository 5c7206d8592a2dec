#!/usr/bin/env bash
# Fatal errors end the program with exit code 1 and the codes on stderr: no
# sound device (3, 256, 0) and a missing sound file (3, 258, 0) on the first
# frame, and a display without OpenGL 3.3 (2, 0, 0) during graphics start-up,
# while sound start-up runs beside it. No sound device names no sound file
# as missing while they are there. None leaves the program's named
# semaphores in /dev/shm.
E2E_PRIVATE_SHM=1
source "$TL_E2E_LIB"
program=$1

work="$E2E_TMP/work"
e2e_working_copy "$program" "$work"

e2e_start_x 1280x1024
MESA_GL_VERSION_OVERRIDE=3.0 "$E2E_PROGRAM" >"$E2E_TMP/out" 2>&1 &
E2E_PID=$!
e2e_expect_exit 1
grep -q "fatal error 2 0 0: The graphics device cannot be created" "$E2E_TMP/out" ||
  { cat "$E2E_TMP/out" >&2; fail "no graphics fatal error on stderr"; }
e2e_expect_no_names_left "fatal error 2 0 0"

ALSOFT_DRIVERS=no-such-driver "$E2E_PROGRAM" >"$E2E_TMP/out" 2>&1 &
E2E_PID=$!
e2e_expect_exit 1
grep -q "fatal error 3 256 0" "$E2E_TMP/out" || { cat "$E2E_TMP/out" >&2; fail "no sound device fatal error on stderr"; }
! grep "missing" "$E2E_TMP/out" || fail "a sound file named missing without a sound device"
e2e_expect_no_names_left "fatal error 3 256 0"

find "$work" -maxdepth 1 -iname '*.wav' -delete
"$E2E_PROGRAM" >"$E2E_TMP/out" 2>&1 &
E2E_PID=$!
e2e_expect_exit 1
grep -q "fatal error 3 258 0" "$E2E_TMP/out" || { cat "$E2E_TMP/out" >&2; fail "no fatal error codes on stderr"; }
e2e_expect_no_names_left "fatal error 3 258 0"
echo "7 passed, 0 failed"
