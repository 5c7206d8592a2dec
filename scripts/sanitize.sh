#!/usr/bin/env bash
# Builds the tests with AddressSanitizer, LeakSanitizer and
# UndefinedBehaviorSanitizer and runs the unit, OpenGL, audio and end-to-end
# tests; then runs the sound ring, shared semaphore, movie slot, movie player
# and render hand-off tests, the picture worker and the program's start-up
# under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy TL_MESSAGEBOX=stderr
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTL_SANITIZE=ON -DTL_BENCH=OFF \
  -DTL_WERROR="${TL_WERROR:-OFF}"
cmake --build build-asan
# Mesa's software driver keeps what EGL start-up allocates (240 bytes) in its
# own globals, and eglTerminate unloads it, which strands them where no frame
# can be named. Loaded ahead of everything, the driver stays mapped to the end
# and the leak check sees those blocks still held; every other leak fails.
leak_env=()
mesa_driver=$(ls /usr/lib/*/dri/swrast_dri.so 2>/dev/null | head -n1 || true)
if [ -n "$mesa_driver" ]; then
  leak_env=(LD_PRELOAD="$mesa_driver" ASAN_OPTIONS="$ASAN_OPTIONS:verify_asan_link_order=0")
fi
env "${leak_env[@]}" ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -LE e2e
# The real program under the sanitizers, driven as a user would, inside a
# session bus as on a desktop (without one the window library's start-up
# leaks the bus error it does not free).
env "${leak_env[@]}" dbus-run-session -- ctest --test-dir build-asan --output-on-failure -L e2e

# The sound worker and its command ring under ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTL_TSAN=ON -DTL_BENCH=OFF
cmake --build build-tsan --target sound_ring_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -R "^SoundRing"
# Semaphores shared by threads and by forked processes.
cmake --build build-tsan --target shell_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -R "^SharedSemaphores\."
# The movie slots' decoding threads against the main thread's uploads.
cmake --build build-tsan --target movie_slot_tests movie_player_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -R "^(MovieSlots|MoviePlayerTest)\."
# The render hand-off: a second thread holding the device draws the frames.
cmake --build build-tsan --target render_handoff_gl_tests
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan_gl.supp" \
  ctest --test-dir build-tsan --output-on-failure -R "^RenderHandoff\."
# Pictures decoded on a worker thread while the main thread makes and fills
# their textures.
cmake --build build-tsan --target assets_texture_tests viewer_scene_gl_tests tl_data
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/scripts/tsan_gl.supp" \
  ctest --test-dir build-tsan --output-on-failure -R "^(Textures|ViewerFiles)\."
# Start-up: the font configuration read while the window is made, and sound
# started beside the device, up to the first frame that shows the sample (the
# start-up trace ends the program there). Inside a session bus: without one
# the window library's start-up forks to launch a bus, and under
# ThreadSanitizer that child can deadlock before it runs anything.
cmake --build build-tsan --target tamberlune tl_data
(cd build-tsan && TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/../scripts/tsan_gl.supp" TL_STARTUP_TRACE=1 \
  timeout 300 dbus-run-session -- xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" ./tamberlune >/dev/null)
