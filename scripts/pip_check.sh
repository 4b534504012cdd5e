#!/usr/bin/env bash
# Installs the Python package with the system interpreter's pip, as a new
# user would: a wheel built once (pip wheel, no package index: the build
# backend comes from Debian's python3-skbuild), installed into a virtual
# environment made with --system-site-packages and as --user
# --break-system-packages (in a scratch HOME). Each time the installed
# package must have its metadata (version, xarray's engine), open a file
# through xarray's engine, and be shown and uninstalled by pip.
set -euo pipefail
cd "$(dirname "$0")/.."
py=/usr/bin/python3
export CMAKE_BUILD_PARALLEL_LEVEL="${JOBS:-$(nproc)}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A copy of the tree without build folders, so that nothing stale is reused.
mkdir "$work/src"
tar --exclude='./build*' --exclude=./_skbuild --exclude=./.git --exclude=./out -cf - . | tar -xf - -C "$work/src"
(cd "$work/src" && "$py" -m pip wheel --no-build-isolation --no-deps -q -w "$work/wheel" .)
wheel=$(ls "$work"/wheel/velfile-*.whl)

check() {  # $1: the interpreter that has the package installed
  (cd "$work" && "$1" - <<'PY'
import importlib.metadata as md, numpy as np, os, sys, xarray as xr
import velfile
assert md.version("velfile") == velfile.__version__, (md.version("velfile"), velfile.__version__)
assert os.path.dirname(velfile.__file__) in {os.path.join(p, "velfile") for p in sys.path if p}
with velfile.create("c.A01") as f:
    f.create_group("Pip").create_group("Scan").write_data(np.arange(24, dtype=np.int16).reshape(2, 3, 4))
assert int(xr.open_dataset("c.A01", engine="velfile").samples[1, 2, 3]) == 23
print("pip_check:", velfile.__file__, velfile.__version__)
PY
  )
  "$1" -m pip show velfile >"$work/show" && grep -q "^Version: " "$work/show"
}

"$py" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/python" -m pip install -q --no-deps --no-index "$wheel"
check "$work/venv/bin/python"
"$work/venv/bin/python" -m pip uninstall -y -q velfile
! "$work/venv/bin/python" -c "import velfile" 2>/dev/null

export HOME="$work/home" PYTHONUSERBASE="$work/home/.local"
"$py" -m pip install -q --user --break-system-packages --no-deps --no-index "$wheel"
check "$py"
"$py" -m pip uninstall -y -q --break-system-packages velfile
echo "pip_check: venv and --user installs, metadata, engine, uninstall: ok"
