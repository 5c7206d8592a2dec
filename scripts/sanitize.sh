#!/usr/bin/env bash
# Builds the tests with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs the unit, OpenGL and audio tests; then runs the sound ring, movie slot,
# movie player and render hand-off tests under ThreadSanitizer, and every
# fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy TL_MESSAGEBOX=stderr
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTL_SANITIZE=ON -DTL_BENCH=OFF
cmake --build build-asan
ctest --test-dir build-asan --output-on-failure -j "$(nproc)" -LE e2e

# The sound worker and its command ring under ThreadSanitizer.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTL_TSAN=ON -DTL_BENCH=OFF
cmake --build build-tsan --target sound_ring_tests
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -R "^SoundRing"
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
