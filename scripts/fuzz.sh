#!/usr/bin/env bash
# Builds every fuzz target with clang and libFuzzer and runs each for a short
# while (FUZZ_SECONDS, default 20) from its seed corpus. Any sanitizer finding
# or crash stops its target and fails the script, with the report and the
# input that caused it kept in build-fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
export ALSOFT_DRIVERS=null SDL_VIDEODRIVER=offscreen TL_MESSAGEBOX=stderr
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTL_FUZZ=ON -DTL_BENCH=OFF \
  -DTL_WERROR="${TL_WERROR:-OFF}"
targets=()
for src in fuzz/*.cpp; do targets+=("fuzz_$(basename "$src" .cpp)"); done
cmake --build build-fuzz --target "${targets[@]}"
seconds=${FUZZ_SECONDS:-20}
findings=build-fuzz/findings
mkdir -p "$findings"
failed=()
for t in "${targets[@]}"; do
  name=${t#fuzz_}
  work=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$work/"
  echo "fuzzing $name for ${seconds}s"
  log="$findings/$name.log"
  if "./build-fuzz/fuzz/$t" -max_total_time="$seconds" -max_len=65536 -print_final_stats=0 \
      -artifact_prefix="$findings/$name-" "$work" >"$log" 2>&1; then
    tail -n 2 "$log"
  else
    echo "FAILED: $name"
    grep -E "ERROR|runtime error|SUMMARY|Test unit written" "$log" || tail -n 30 "$log"
    failed+=("$name")
  fi
  rm -rf "$work"
done
if ((${#failed[@]})); then
  echo "fuzz targets with findings: ${failed[*]} (reports and inputs in $findings/)"
  exit 1
fi
