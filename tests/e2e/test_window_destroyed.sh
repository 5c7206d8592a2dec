#!/usr/bin/env bash
# Ends from outside: a window destroyed from outside ends the program cleanly
# with exit code 1 and a message, never an abort, the moment it appears (while
# the program is still starting, with its start-up threads running) and once
# it runs; SIGHUP (the terminal that started it closed) and SIGTERM end it as
# a close request does, with exit code 0. No end leaves the program's named
# semaphores in /dev/shm.
E2E_PRIVATE_SHM=1
source "$TL_E2E_LIB"
e2e_working_copy "$1" "$E2E_TMP/work"
program=$E2E_PROGRAM

e2e_start_x 1280x1024
passed=0
for wait_first in 0 1; do
  e2e_start_program "$program"
  sleep "$wait_first"
  xdotool windowclose "$E2E_WIN"
  e2e_expect_exit 1
  grep -q "window or the display connection was lost" "$E2E_TMP/out" ||
    { cat "$E2E_TMP/out" >&2; fail "no message (window closed after ${wait_first}s)"; }
  e2e_expect_no_names_left "the window was closed after ${wait_first}s"
  passed=$((passed + 3))
done
for signal in HUP TERM; do
  e2e_start_program "$program"
  sleep 1
  kill -"$signal" "$E2E_PID"
  e2e_expect_exit 0
  e2e_expect_no_names_left "SIG$signal"
  passed=$((passed + 2))
done
echo "$passed passed, 0 failed"
