#!/usr/bin/env bash
# Installs what building, testing and the tools need (Debian packages). The
# hosts of the C interface in other languages need mono-mcs and mono-runtime
# (C#), liboctave-dev (Octave's mkoctfile and octave) and rustc; together
# about 600 MiB and 1.5 minutes.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake pkg-config libgtest-dev libgmock-dev \
  libcli11-dev nlohmann-json3-dev libbenchmark-dev libhdf5-dev \
  clang libclang-rt-14-dev doxygen \
  python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pytest python3-h5py \
  python3-matplotlib python3-tqdm python3-xarray python3-dask python3-distributed \
  python3-tornado chromium chromium-driver python3-selenium \
  python3-venv python3-setuptools python3-wheel python3-skbuild python3-fsspec python3-aiohttp python3-zarr \
  mono-mcs mono-runtime liboctave-dev rustc >/dev/null
