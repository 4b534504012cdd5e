#!/usr/bin/env bash
# Installs the library and velinspect into a scratch prefix, as a host would,
# then runs the installed tool on a file and builds a small consumer against
# the installed package twice: with find_package(VelFile) and with pkg-config.
# The consumer is a host of the C++ layer (velfile.hpp), with an exception
# thrown in the library and caught in the host; it picks its C++ standard
# itself (17 or later), as velfile.pc sets none. A C99 host of the C
# interface (velfile_c.h) is built the same two ways.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS="${JOBS:-$(nproc)}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
build="$work/build" prefix="$work/prefix"
# Configured for /usr/local, installed elsewhere: nothing may depend on the
# configured prefix.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr/local "${launcher[@]}" \
  -DVELFILE_BUILD_TESTS=OFF -DVELFILE_BUILD_EXAMPLES=OFF -DVELFILE_BUILD_BENCH=OFF -DVELFILE_BUILD_PYTHON=OFF >/dev/null
cmake --build "$build" -j"$JOBS" --target velfile velfile_c velinspect >/dev/null
cmake --install "$build" --prefix "$prefix" >/dev/null

consumer="$work/consumer"
mkdir -p "$consumer"
cat >"$consumer/main.cpp" <<'CPP'
#include <velfile/velfile.hpp>
#include <cstdio>
int main(int argc, char** argv) try {
  if (argc != 2) return 2;
  velfile::File file = velfile::File::create(argv[1]);
  file.create_group("Consumer").write_item(1, int32_t(7));
  file.close();
  return velfile::File::open(argv[1]).group("0").item(1).as<int32_t>() == 7 ? 0 : 1;
} catch (const velfile::Error& e) {  // thrown in the library, caught here
  std::fprintf(stderr, "%s\n", e.what());
  return 1;
}
CPP
cat >"$consumer/main.c" <<'C'
#include <velfile/velfile_c.h>
#include <stdio.h>
int main(int argc, char** argv) {
  velfile_file file = 0;
  velfile_group group = 0;
  char text[256];
  if (argc != 2) return 2;
  /* a missing file: a status and a sentence naming it */
  if (velfile_open("no such file.A01", &file) != VELFILE_NOT_FOUND) return 1;
  velfile_last_error(text, sizeof text, NULL);
  if (velfile_create(argv[1], &file) || velfile_create_section(file, "Consumer C", &group) ||
      velfile_item_write_text(group, 1, text) || velfile_close(file))
    return 1;
  return 0;
}
C
cat >"$consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.16)
project(consumer LANGUAGES C CXX)
set(CMAKE_CXX_STANDARD 17)
find_package(VelFile 1 REQUIRED CONFIG)
add_executable(consumer main.cpp)
target_link_libraries(consumer PRIVATE VelFile::velfile)
add_executable(consumer_c main.c)
set_target_properties(consumer_c PROPERTIES C_STANDARD 99 C_EXTENSIONS OFF)
target_link_libraries(consumer_c PRIVATE VelFile::velfile_c)
CMAKE
cmake -S "$consumer" -B "$consumer/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$consumer/build" >/dev/null
"$consumer/build/consumer" "$work/by-cmake.dat"
"$consumer/build/consumer_c" "$work/c-by-cmake.dat"

# pkg-config from the installed .pc file; the run finds the library through
# the path pkg-config gave.
pcdir="$(dirname "$(find "$prefix" -name velfile.pc | head -n1)")"
flags="$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs velfile)"
libdir="$(PKG_CONFIG_PATH="$pcdir" pkg-config --variable=libdir velfile)"
# shellcheck disable=SC2086
c++ -std=c++17 "$consumer/main.cpp" -o "$consumer/by-pkg-config" $flags -Wl,-rpath,"$libdir"
"$consumer/by-pkg-config" "$work/by-pkg-config.dat"
cflags="$(PKG_CONFIG_PATH="$pcdir" pkg-config --cflags --libs velfile_c)"
# shellcheck disable=SC2086
cc -std=c99 -Wall -Wextra -pedantic -Werror "$consumer/main.c" -o "$consumer/c-by-pkg-config" $cflags \
  -Wl,-rpath,"$libdir"
"$consumer/c-by-pkg-config" "$work/c-by-pkg-config.dat"

# The installed tool starts without a library path and reads both files.
for f in by-cmake by-pkg-config; do
  env -u LD_LIBRARY_PATH "$prefix/bin/velinspect" check "$work/$f.dat" >/dev/null
  env -u LD_LIBRARY_PATH "$prefix/bin/velinspect" tree "$work/$f.dat" | grep -q '"Consumer"'
  env -u LD_LIBRARY_PATH "$prefix/bin/velinspect" check "$work/c-$f.dat" >/dev/null
  env -u LD_LIBRARY_PATH "$prefix/bin/velinspect" dump "$work/c-$f.dat" | grep -q 'no such file.A01'
done
echo "install check: ok ($prefix)"
