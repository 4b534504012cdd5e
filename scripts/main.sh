#!/usr/bin/env bash
# Builds the library, the tools, the example hosts and the Python package;
# writes a complete inspection file with the host on the C++ layer, shows it
# with velinspect, draws its scan as a C-scan and a B-scan and exports it to
# HDF5.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVELFILE_BUILD_TESTS=OFF >/dev/null
cmake --build build -j"$JOBS"
mkdir -p out
./build/examples/write_inspection out/inspection.A01
./build/tools/velinspect/velinspect tree out/inspection.A01 2>/dev/null || ./build/tools/velinspect tree out/inspection.A01

# The scan as pictures and the file as HDF5, through the Python package.
if ls build/python/velfile/_velfile*.so >/dev/null 2>&1; then
  export PYTHONPATH="$PWD/build/python${PYTHONPATH:+:$PYTHONPATH}" MPLBACKEND="${MPLBACKEND:-Agg}"
  velfile=(/usr/bin/python3 -m velfile)
  "${velfile[@]}" plot out/inspection.A01 --group "0/Scan A" --kind cscan --gate 60:200 --dpi 72 -o out/cscan.png
  "${velfile[@]}" plot out/inspection.A01 --group "0/Scan A" --kind tof --gate 60:200 --detect threshold \
    --threshold 3000 --dpi 72 -o out/tof.png
  "${velfile[@]}" plot out/inspection.A01 --group "0/Scan A" --kind bscan --line 80 -o out/bscan.png
  "${velfile[@]}" export out/inspection.A01 out/inspection.h5
  echo "C-scans: out/cscan.png, out/tof.png, B-scan: out/bscan.png, HDF5: out/inspection.h5"
else
  echo "pictures and HDF5 export skipped: the Python package was not built (see scripts/setup.sh)"
fi
