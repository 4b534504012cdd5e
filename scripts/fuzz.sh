#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each one for a bounded
# time on seeds the library writes itself (the interchange corpus: items of
# every type, nested and narrow groups, bulk blocks, a chain of three sections
# and every module's group), a file written on a big-endian machine with its
# data groups (python/tests/data), the regression inputs and the corpus kept
# from earlier runs in the build directory.
#
#   scripts/fuzz.sh [seconds per harness, default 60]
#
# Environment: FUZZ_BUILD_DIR (default build-fuzz), JOBS (build parallelism).
# A crashing input is left in <build>/fuzz/crashes-<harness>/; once the fault
# is fixed, copy it to fuzz/regressions/ so the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
build="${FUZZ_BUILD_DIR:-build-fuzz}"
harnesses=(walk append layer)

CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELFILE_BUILD_FUZZ=ON \
  -DVELFILE_BUILD_PYTHON=OFF -DVELFILE_BUILD_TOOLS=OFF -DVELFILE_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" -j"${JOBS:-$(nproc)}" --target velfile_test_interchange \
  "${harnesses[@]/#/velfile_fuzz_}"

seeds="$build/fuzz/seeds"
rm -rf "$seeds"
mkdir -p "$seeds"
for verb in write extend extend; do
  "$build/tests/velfile_test_interchange" "$verb" "$seeds" >/dev/null
done

status=0
for h in "${harnesses[@]}"; do
  corpus="$build/fuzz/corpus-$h"
  crashes="$build/fuzz/crashes-$h"
  mkdir -p "$corpus" "$crashes"
  echo "== velfile_fuzz_$h: ${seconds}s"
  if ! "$build/fuzz/velfile_fuzz_$h" -max_total_time="$seconds" -max_len=16384 -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" \
      "$corpus" "$seeds" fuzz/regressions python/tests/data; then
    echo "!! velfile_fuzz_$h found a fault; input in $crashes/"
    status=1
  fi
done
exit "$status"
