# Helpers for the end-to-end tests: a private X server, the program started
# in it, its window found, clicks and screenshots.
set -euo pipefail

# A script that sets E2E_PRIVATE_SHM=1 before sourcing this runs again in a
# mount namespace of its own with an empty /dev/shm, where the system allows
# it (as root): the names the program leaves there are then its own, not
# those of programs running beside it. Elsewhere it runs as it is, and the
# names are told apart from those there before it started.
if [ "${E2E_PRIVATE_SHM:-}" = 1 ] && [ -z "${E2E_SHM_TRIED:-}" ] &&
  unshare -m --propagation private true 2>/dev/null; then
  export E2E_SHM_TRIED=1
  exec unshare -m --propagation private \
    bash -c 'mount -t tmpfs -o mode=1777 tmpfs /dev/shm 2>/dev/null; exec bash "$@"' bash "$0" "$@"
fi

E2E_TMP=$(mktemp -d /tmp/tl_e2e_XXXXXX)
E2E_PID=""
XVFB_PID=""
E2E_MOUNTED=""

e2e_cleanup() {
  # Let go too, where a test ended while it held the program stopped.
  [ -n "$E2E_PID" ] && kill "$E2E_PID" 2>/dev/null && kill -CONT "$E2E_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  [ -z "$E2E_MOUNTED" ] || umount "$E2E_MOUNTED"
  rm -rf "$E2E_TMP"
}
trap e2e_cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Copies the shipped working folder and the program ($1) into the folder $2
# and sets E2E_PROGRAM to the copied program: a test neither reads the
# working folder beside the built program, which its user may have changed,
# nor writes there.
e2e_working_copy() {
  mkdir -p "$2"
  cp -r "$TL_DATA_DIR"/. "$2"/
  cp "$1" "$2"/
  E2E_PROGRAM="$2/$(basename "$1")"
}

# Puts a stand-in for zenity first on PATH that answers the file dialogs with
# the paths given, in order, printing each as the real chooser prints the
# file the user picked or typed ("" cancels, "!kill" ends it by a signal, as
# Ctrl-C in the terminal would; a line break in an answer is printed as it
# stands, as the chooser prints a name that holds one). Told to confirm
# replacing an existing file, it notes each answer that names one in
# $E2E_TMP/zenity-asked, as the real chooser asks the user about it.
# Asked for a file to open, it offers only names that one of its
# filters' patterns matches, as the real chooser lists them, and cancels
# when the answer is not among them.
e2e_zenity_answers() {
  printf '%s\0' "$@" >"$E2E_TMP/answers"
  mkdir -p "$E2E_TMP/bin"
  cat >"$E2E_TMP/bin/zenity" <<EOF
#!/bin/sh
answer=\$(head -z -n 1 '$E2E_TMP/answers' | tr -d '\\0')
sed -z -i 1d '$E2E_TMP/answers'
[ "\$answer" != '!kill' ] || kill -KILL \$\$
[ -n "\$answer" ] || exit 1
case " \$* " in *" --confirm-overwrite "*) [ ! -e "\$answer" ] || printf '%s\\n' "\$answer" >>'$E2E_TMP/zenity-asked' ;; esac
case " \$* " in *" --save "*) ;; *)
  set -f
  for arg; do
    case \$arg in --file-filter=*)
      for pattern in \${arg#*|}; do
        case \${answer##*/} in \$pattern) offered=1 ;; esac
      done ;;
    esac
  done
  [ -n "\${offered:-}" ] || exit 1 ;;
esac
printf '%s\n' "\$answer"
EOF
  chmod +x "$E2E_TMP/bin/zenity"
  export PATH="$E2E_TMP/bin:$PATH"
  unset TL_FILE_DIALOG_ANSWERS
}

# Makes $1 a folder that no one can write in, root included: a read-only
# file system mounted on it where the test runs in a mount namespace of its
# own (E2E_PRIVATE_SHM=1, as root), else its write permission taken away,
# which holds for anyone but root. False when neither holds here.
e2e_read_only_folder() {
  mkdir -p "$1"
  if [ -n "${E2E_SHM_TRIED:-}" ] && mount -t tmpfs -o ro,size=16k tmpfs "$1"; then
    E2E_MOUNTED=$1
  else
    chmod a-w "$1"
  fi
  ! touch "$1/.probe" 2>/dev/null
}

# Starts Xvfb with a screen of $1 (e.g. 1280x1024) on a free display. By
# default the server resets whenever its last client leaves, and a client
# connecting during the reset is refused: the xdotool calls that look for the
# window would then now and then keep the program from opening the display.
e2e_start_x() {
  local size=$1
  Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$E2E_TMP/display" 2>/dev/null &
  XVFB_PID=$!
  e2e_poll 60 test -s "$E2E_TMP/display" || fail "Xvfb did not start"
  export DISPLAY=":$(cat "$E2E_TMP/display")"
  unset SDL_VIDEODRIVER
}

# Sets E2E_WIN to the program's window; true once it is there or the program
# has ended.
e2e_find_window() {
  E2E_WIN=$(xdotool search --name '^Tamberlune$' 2>/dev/null | head -n1 || true)
  [ -n "$E2E_WIN" ] || ! kill -0 "$E2E_PID" 2>/dev/null
}

# Starts the program ($1, or a command that runs it in its own process, such
# as env, with its arguments) with its output in $E2E_TMP/out and waits for
# its window, for at most 60 s.
e2e_start_program() {
  "$@" >"$E2E_TMP/out" 2>&1 &
  E2E_PID=$!
  E2E_WIN=""
  e2e_poll 60 e2e_find_window || true
  [ -n "$E2E_WIN" ] && return 0
  cat "$E2E_TMP/out" >&2
  fail "no window titled Tamberlune"
}

# Whole seconds on a clock that only runs forward at its own pace, for the
# deadlines of waits. The time of day, by which bash's SECONDS counts, may be
# set forward while a wait runs (a virtual machine's clock put right after
# its host held it), and a wait measured by it would end long before its
# time, its check never met.
e2e_seconds() {
  local up
  read -r up _ </proc/uptime
  echo "${up%.*}"
}

# Waits for the program to end, for at most 60 s, and checks its exit code.
e2e_expect_exit() {
  local want=$1 code=0
  e2e_poll 60 e2e_program_ended || { cat "$E2E_TMP/out" >&2; fail "the program did not end in 60 s"; }
  wait "$E2E_PID" || code=$?
  E2E_PID=""
  [ "$code" -eq "$want" ] || { cat "$E2E_TMP/out" >&2; fail "exit code $code, wanted $want"; }
}
e2e_program_ended() { ! kill -0 "$E2E_PID" 2>/dev/null; }

# Runs a check until it holds, for at most $1 seconds: the program's frames
# come slowly on a loaded machine, so checks wait for what they expect.
e2e_poll() {
  local until
  until=$(($(e2e_seconds) + $1))
  shift
  until "$@"; do
    [ "$(e2e_seconds)" -lt "$until" ] || return 1
    sleep 0.2
  done
}

# Waits until the program has drawn $1 (2 when not given) frames in its window
# after now, for at most 60 s. The second of them was made from what it read
# after now: a move, a press or a release given before is seen, however
# slowly the program runs.
e2e_frames() {
  "$TL_WAIT_FRAMES" "$E2E_WIN" "${1:-2}" 60 || fail "the program drew no frame in 60 s"
}

# Input as a user gives it, at client pixels of the window. A press is held
# until the program has seen it go down, and the next input waits until the
# program has seen it come up: the program reads the buttons once a frame,
# and a press that begins and ends between two frames is never seen.
e2e_move() { xdotool mousemove --window "$E2E_WIN" "$1" "$2"; }
e2e_click() {  # e2e_click x y [button]: the left one when not given
  e2e_move "$1" "$2"
  xdotool mousedown "${3:-1}"
  e2e_frames
  xdotool mouseup "${3:-1}"
  e2e_frames
}
e2e_drag() {  # e2e_drag x0 y0 x1 y1, in steps a frame apart
  e2e_move "$1" "$2"
  xdotool mousedown 1
  e2e_frames
  local i
  for i in 1 2 3 4 5 6 7 8; do
    e2e_move $(($1 + ($3 - $1) * i / 8)) $(($2 + ($4 - $2) * i / 8))
    e2e_frames 1
  done
  e2e_frames
  xdotool mouseup 1
  e2e_frames
}

# Holds the left button down on (x, y) until the check in the remaining
# arguments holds, so the program sees the press whatever its frame rate.
e2e_press_until() {  # e2e_press_until x y <check...>
  local x=$1 y=$2 held=0
  shift 2
  e2e_move "$x" "$y"
  xdotool mousedown 1
  e2e_poll 30 "$@" || held=1
  xdotool mouseup 1
  # The next press must find the button seen up.
  e2e_frames
  e2e_move 1010 400
  return $held
}
# A box of the caption $1 names $2, as the box shows it, over lines of at
# most 80 columns (a CP932 byte a column, a letter CP932 cannot write one):
# a box is as wide as its longest line, and 80 columns keep it on the screen.
e2e_box_names() {  # e2e_box_names <caption> <text>
  local box line fits
  while IFS= read -r -d '' box; do
    [ "$(tr -d '\n' <<<"$box")" = "$2" ] || continue
    fits=1
    while IFS= read -r line; do
      [ "$(printf '%s' "$line" | iconv -f UTF-8 -t CP932//TRANSLIT | wc -c)" -le 80 ] || fits=""
    done <<<"$box"
    [ -n "$fits" ] && return 0
  done < <(LC_ALL=C awk -v head="tamberlune: $1: " '
    function end_box() { if (on) printf "%s%c", text, 0; on = 0 }
    /^tamberlune: / { end_box() }
    index($0, head) == 1 { on = 1; text = substr($0, length(head) + 1); next }
    on { text = text "\n" $0 }
    END { end_box() }' "$E2E_TMP/out")
  return 1
}
# The program's named objects in /dev/shm (its semaphores), before the test
# started and now.
e2e_shm_names() { ls /dev/shm | grep '^QMX_MSECT_' || true; }
E2E_SHM_BEFORE=$(e2e_shm_names)

# Fails when the program left named objects in /dev/shm; $1 says after what.
e2e_expect_no_names_left() {
  local now
  now=$(e2e_shm_names)
  [ "$now" = "$E2E_SHM_BEFORE" ] ||
    fail "left in /dev/shm after $1: $(comm -13 <(echo "$E2E_SHM_BEFORE") <(echo "$now") | tr '\n' ' ')"
}
