"""pip's build of the Python package velfile (see pyproject.toml).

scikit-build configures the project's CMake build with only the library, the
tools' shared code and the extension (no tests, examples or benchmarks), and
installs the CMake component "python": the extension and the shared library
libvelfile beside it (found through the extension's RPATH $ORIGIN), so the
wheel carries the library and needs nothing installed by CMake. The
pure-Python modules come from python/velfile."""
import re
from pathlib import Path

from skbuild import setup

here = Path(__file__).resolve().parent
version = re.search(r"project\(velfile VERSION (\d+\.\d+\.\d+)", (here / "CMakeLists.txt").read_text()).group(1)

setup(
    name="velfile",
    version=version,
    description="Setup and acquisition container files of ultrasonic testing: read, write, view, export",
    license="Proprietary",
    python_requires=">=3.8",
    install_requires=["numpy"],
    extras_require={"xarray": ["xarray", "dask"], "remote": ["fsspec", "aiohttp"], "zarr": ["zarr", "fsspec"]},
    packages=["velfile", "velfile.viewer"],
    package_dir={"": "python"},
    package_data={"velfile": ["py.typed", "*.pyi"], "velfile.viewer": ["static/*"]},
    entry_points=(here / "python" / "entry_points.txt").read_text(),  # the build tree's too
    cmake_source_dir=".",
    cmake_install_dir="python",  # where package_dir puts the packages
    cmake_install_target="install-python",
    cmake_args=["-DCMAKE_BUILD_TYPE=Release", "-DVELFILE_PYTHON_WHEEL=ON", "-DVELFILE_BUILD_TESTS=OFF",
                "-DVELFILE_BUILD_EXAMPLES=OFF", "-DVELFILE_BUILD_BENCH=OFF", "-DPython_EXECUTABLE=/usr/bin/python3"],
    zip_safe=False,
)
