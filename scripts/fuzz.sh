#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer and runs each for a short
# while (FUZZ_SECONDS, default 20) from its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export ALSOFT_DRIVERS=null SDL_VIDEODRIVER=offscreen TL_MESSAGEBOX=stderr
export ASAN_OPTIONS=detect_leaks=0
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTL_FUZZ=ON -DTL_BENCH=OFF
targets=()
for src in fuzz/*.cpp; do targets+=("fuzz_$(basename "$src" .cpp)"); done
cmake --build build-fuzz --target "${targets[@]}"
seconds=${FUZZ_SECONDS:-20}
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  echo "fuzzing $name for ${seconds}s"
  "./build-fuzz/fuzz/$t" -max_total_time="$seconds" -max_len=65536 -print_final_stats=0 "$work" 2>&1 | tail -n 2
  rm -rf "$work"
done
