#!/usr/bin/env bash
# Builds the library, the tools and the example hosts; writes a complete
# inspection file with the host on the C++ layer and shows it with velinspect.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELFILE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$JOBS"
mkdir -p out
./build/examples/write_inspection out/inspection.A01
./build/tools/velinspect/velinspect tree out/inspection.A01 2>/dev/null || ./build/tools/velinspect tree out/inspection.A01
