#!/usr/bin/env bash
# Builds the C++ layer's and the C interface's tests with ThreadSanitizer and
# runs them: both promise that files can be used from several threads at once.
set -euo pipefail
cd "$(dirname "$0")/.."
tsan=-fsanitize=thread
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DVELFILE_BUILD_TOOLS=OFF -DVELFILE_BUILD_EXAMPLES=OFF \
  -DCMAKE_CXX_FLAGS="$tsan" -DCMAKE_EXE_LINKER_FLAGS="$tsan" -DCMAKE_SHARED_LINKER_FLAGS="$tsan" >/dev/null
tests=(velfile_test_layer velfile_test_capi)
cmake --build build-tsan -j"${JOBS:-$(nproc)}" --target "${tests[@]}"
for t in "${tests[@]}"; do TSAN_OPTIONS=halt_on_error=1 "build-tsan/tests/$t"; done
