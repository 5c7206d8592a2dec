#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless:
# unit, OpenGL (llvmpipe), audio (OpenAL Soft's null and loopback devices)
# and the end-to-end tests under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTL_WERROR="${TL_WERROR:-OFF}"
cmake --build build
export ALSOFT_DRIVERS=null SDL_AUDIODRIVER=dummy TL_MESSAGEBOX=stderr
ctest --test-dir build --output-on-failure -j "$(nproc)"
