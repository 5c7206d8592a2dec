#!/usr/bin/env bash
# Ends from outside: a window destroyed from outside ends the program cleanly
# with exit code 1 and a message, never an abort, the moment it appears (while
# the program is still starting, with its start-up threads running) and once
# it runs; SIGHUP (the terminal that started it closed), SIGTERM and SIGQUIT
# (Ctrl-\ in the terminal) end it as a close request does, with exit code 0.
# A program started with SIGHUP or SIGQUIT ignored (as nohup starts it) keeps
# it ignored and runs on until it is closed, and the other signals still end
# it. No end leaves the program's named semaphores in /dev/shm.
E2E_PRIVATE_SHM=1
source "$TL_E2E_LIB"
e2e_working_copy "$1" "$E2E_TMP/work"
program=$E2E_PROGRAM

e2e_start_x 1280x1024
passed=0

# Starts the program, looks for its window without a pause and stops the
# program the moment the window is there, so that the window goes while the
# program is still starting, whatever the machine's speed.
start_stopped_at_window() {
  "$program" >"$E2E_TMP/out" 2>&1 &
  E2E_PID=$!
  local until
  until=$(($(e2e_seconds) + 60))
  until e2e_find_window; do
    [ "$(e2e_seconds)" -lt "$until" ] || break
  done
  [ -n "$E2E_WIN" ] || { cat "$E2E_TMP/out" >&2; fail "no window titled Tamberlune"; }
  kill -STOP "$E2E_PID"
}

for when in "as it appeared" "once it drew"; do
  if [ "$when" = "as it appeared" ]; then
    start_stopped_at_window
    xdotool windowclose "$E2E_WIN"
    kill -CONT "$E2E_PID"
  else
    e2e_start_program "$program"
    e2e_frames
    xdotool windowclose "$E2E_WIN"
  fi
  e2e_expect_exit 1
  grep -q "window or the display connection was lost" "$E2E_TMP/out" ||
    { cat "$E2E_TMP/out" >&2; fail "no message (window closed $when)"; }
  e2e_expect_no_names_left "the window was closed $when"
  passed=$((passed + 3))
done

# Whether the program ignores the signal $1, as the kernel holds its
# dispositions.
ignores() {
  local mask
  mask=$(awk '/^SigIgn:/ { print $2 }' "/proc/$E2E_PID/status")
  (((16#$mask >> ($(kill -l "$1") - 1)) & 1))
}

# Each row: how the program starts with one signal (at its default, as from
# a terminal, or ignored, as nohup starts it), then the signal sent to it once
# it runs. A script's background commands start with SIGQUIT ignored, so a
# signal sent that the row does not ignore is set to its default, not
# inherited. One signal ignored leaves the others ending the program.
for row in "default HUP HUP" "default TERM TERM" "default QUIT QUIT" "ignore HUP HUP" "ignore QUIT QUIT" \
  "ignore HUP TERM" "ignore HUP QUIT" "ignore QUIT HUP"; do
  read -r handling started signal <<<"$row"
  dispositions=(--"$handling"-signal="$started")
  [ "$signal" = "$started" ] || dispositions+=(--default-signal="$signal")
  e2e_start_program env "${dispositions[@]}" "$program"
  e2e_frames
  kill -"$signal" "$E2E_PID"
  if [ "$handling" = ignore ] && [ "$signal" = "$started" ]; then
    ignores "$signal" || fail "SIG$signal ignored at start was not kept ignored"
    "$TL_SEND_CLOSE" "$E2E_WIN"
  fi
  e2e_expect_exit 0
  e2e_expect_no_names_left "SIG$signal (SIG$started $handling at start)"
  passed=$((passed + 2))
done
echo "$passed passed, 0 failed"
