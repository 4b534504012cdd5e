#!/usr/bin/env bash
# Builds and tests the library away from x86-64 Linux, and exchanges files
# between the builds.
#
#   scripts/portability.sh s390x        big-endian build (s390x, run under
#                                       qemu-user): the whole test suite
#   scripts/portability.sh windows      Windows build (mingw-w64, run under
#                                       wine): the whole test suite
#   scripts/portability.sh interchange  files written on each of x86-64, s390x
#                                       (and Windows with WINDOWS=1) read back on
#                                       the others
#   scripts/portability.sh pedantic     the library and the C++ layer compiled
#                                       by clang++ -std=c++17 -pedantic-errors,
#                                       for Linux and for Windows: standard
#                                       C++ only, as MSVC needs
#   scripts/portability.sh all          all four
#
# Each installs what it needs with apt-get. Builds go to build-cross/ (kept
# between runs, so a second run only rebuilds what changed). JOBS sets the
# build parallelism; TESTS=0 builds the suites without running them.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
OUT="$ROOT/build-cross"
JOBS="${JOBS:-$(nproc)}"
BUILD_TYPE="${BUILD_TYPE:-Debug}"
mkdir -p "$OUT"

export QEMU_LD_PREFIX=/usr/s390x-linux-gnu
# Programs linked with the shared library find libvelfile.dll in the build,
# and the compiler's runtime DLLs where mingw-w64 installs them.
MINGW_RUNTIME="/usr/lib/gcc/x86_64-w64-mingw32/12-posix;/usr/x86_64-w64-mingw32/lib"
export WINEPREFIX="$OUT/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
  WINEPATH="$OUT/mingw;$MINGW_RUNTIME"

log() { printf '== %s\n' "$*" >&2; }

install_packages() {
  local missing=()
  for p in "$@"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# GoogleTest from the sources Debian ships, built with the target's toolchain.
build_gtest() {
  local target="$1" toolchain="$2"
  local prefix="$OUT/prefix-$target"
  [ -f "$prefix/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  log "GoogleTest for $target"
  cmake -S /usr/src/googletest -B "$OUT/gtest-$target" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF >/dev/null
  cmake --build "$OUT/gtest-$target" -j"$JOBS" >/dev/null
  cmake --install "$OUT/gtest-$target" >/dev/null
}

# Configures and builds the project from source dir $2 into build-cross/$1.
build_project() {
  local target="$1" src="$2" toolchain="$3"
  shift 3
  log "building for $target"
  cmake -S "$src" -B "$OUT/$target" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" \
    -DGTest_DIR="$OUT/prefix-$target/lib/cmake/GTest" -DVELFILE_BUILD_TOOLS=OFF -DVELFILE_BUILD_EXAMPLES=OFF -DVELFILE_BUILD_PYTHON=OFF \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST ${CONFIGURE:-} >/dev/null
  # Keep going past a program that does not compile: run_suites reports it.
  if ! cmake --build "$OUT/$target" -j"$JOBS" "$@" -- -k >"$OUT/$target.build.log" 2>&1; then
    grep -E 'error' "$OUT/$target.build.log" | grep -vE '^g?make|Error [0-9]' | head -20 >&2 || true
    log "$target: some targets did not build (see build-cross/$target.build.log)"
  fi
}

# Runs every test program of build-cross/$1 with the runner ($2...), one
# process per program; prints a summary line per program and a total. A
# program still running after PROGRAM_SECONDS is stopped (exit 124), so that
# a hang under an emulator fails the run instead of stalling it.
PROGRAM_SECONDS="${PROGRAM_SECONDS:-900}"
run_suites() {
  local target="$1"
  shift
  local dir="$OUT/$target/tests" failed=0 passed=0 programs=0
  for source in "$ROOT"/tests/test_*.cpp; do
    local subject exe
    subject="$(basename "$source" .cpp)"
    exe=""
    for candidate in "$dir/velfile_$subject" "$dir/velfile_$subject.exe"; do
      [ -f "$candidate" ] && exe="$candidate"
    done
    programs=$((programs + 1))
    if [ -z "$exe" ]; then
      failed=$((failed + 1))
      printf '%-45s FAIL not built\n' "velfile_$subject"
      continue
    fi
    local name out rc=0
    name="$(basename "$exe")"
    # Into a file, not a pipe: programs that wine starts on the side hold
    # on to the output they inherited.
    timeout -k 10 "$PROGRAM_SECONDS" "$@" "$exe" --gtest_brief=1 >"$OUT/$target/$name.log" 2>&1 </dev/null || rc=$?
    out="$(cat "$OUT/$target/$name.log")"
    local summary
    summary="$(grep -E '^\[  (PASSED|FAILED|SKIPPED) ' <<<"$out" | tr -s ' ' | tr '\n' ' ' || true)"
    if [ $rc -ne 0 ] && [ -z "$summary" ]; then
      # The program ended before GoogleTest could report anything: a crash,
      # which under an emulator may be the emulator's own. Its output is
      # shown, and the program is run once more; a second such end fails.
      printf '%-45s ended without a result (exit %s); its last lines:\n' "$name" "$rc"
      tail -n 20 "$OUT/$target/$name.log" | sed 's/^/    /'
      rc=0
      timeout -k 10 "$PROGRAM_SECONDS" "$@" "$exe" --gtest_brief=1 >"$OUT/$target/$name.log" 2>&1 </dev/null || rc=$?
      out="$(cat "$OUT/$target/$name.log")"
      summary="$(grep -E '^\[  (PASSED|FAILED|SKIPPED) ' <<<"$out" | tr -s ' ' | tr '\n' ' ' || true)"
      [ $rc -ne 0 ] && tail -n 20 "$OUT/$target/$name.log" | sed 's/^/    /'
    fi
    if [ $rc -eq 0 ]; then
      passed=$((passed + 1))
      printf '%-45s ok   %s\n' "$name" "$summary"
    else
      failed=$((failed + 1))
      printf '%-45s FAIL %s\n' "$name" "$summary"
      grep -E '^\[  FAILED  \] .*\(' <<<"$out" | sed 's/^/    /' || true
    fi
  done
  echo "$target: $passed passed, $failed failed (test programs)"
  [ $programs -gt 0 ] && [ $failed -eq 0 ]
}

# --- s390x ---

s390x_build() {
  install_packages g++-s390x-linux-gnu qemu-user cmake make googletest
  build_gtest s390x "$ROOT/cmake/toolchain-s390x.cmake"
  build_project s390x "$ROOT" "$ROOT/cmake/toolchain-s390x.cmake" "$@"
}

cmd_s390x() {
  s390x_build
  [ "${TESTS:-1}" = 0 ] || run_suites s390x qemu-s390x
}

# --- Windows ---

# The inspection tool's two header-only dependencies, for a target root that
# has none: Debian's headers and package files, copied beside the target's
# GoogleTest (their package files find the headers relative to themselves).
header_only_deps() {
  local prefix="$OUT/prefix-$1"
  mkdir -p "$prefix/include" "$prefix/share/cmake"
  for dir in CLI nlohmann; do ln -sfn "/usr/include/$dir" "$prefix/include/$dir"; done
  for pkg in CLI11 nlohmann_json; do cp -r "/usr/share/cmake/$pkg" "$prefix/share/cmake/"; done
  echo "-DCLI11_DIR=$prefix/share/cmake/CLI11 -Dnlohmann_json_DIR=$prefix/share/cmake/nlohmann_json"
}

# The Windows build compiles the sources as they stand (VelChar is wchar_t
# there), with the inspection tool and the examples.
windows_build() {
  install_packages g++-mingw-w64-x86-64-posix cmake make googletest libcli11-dev nlohmann-json3-dev
  build_gtest mingw "$ROOT/cmake/toolchain-mingw64.cmake"
  CONFIGURE="-DVELFILE_BUILD_TOOLS=ON -DVELFILE_BUILD_EXAMPLES=ON $(header_only_deps mingw)" \
    build_project mingw "$ROOT" "$ROOT/cmake/toolchain-mingw64.cmake" "$@"
}

wine_ready() {
  install_packages wine64 wine
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the wine prefix"
    wineboot --init >/dev/null 2>&1 || true
  fi
  # The server that made the prefix ends on its own a few seconds after its
  # last program; one that ended under a running test program left it with
  # "wine client error: recvmsg: Connection reset by peer". Wait for it to
  # end, then start the one server the whole run uses.
  wineserver -w >/dev/null 2>&1 || true
  # One server, and its side programs, for every program of the run; it is
  # stopped when the script ends, so that nothing holds the script's output.
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  wineserver -p 60 >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

# The two example hosts write the same file under wine, and the inspection
# tool finds it sound.
run_examples_windows() {
  local dir="$OUT/mingw/examples" failed=0
  (cd "$dir" && wine ./write_inspection.exe inspection.A01 && wine ./write_inspection_c.exe inspection_c.A01 &&
    wine ./readme_example.exe) >"$dir/examples.log" 2>&1 </dev/null || failed=1
  cmp "$dir/inspection.A01" "$dir/inspection_c.A01" || failed=1
  wine "$OUT/mingw/tools/velinspect.exe" check "$dir/inspection.A01" >>"$dir/examples.log" 2>&1 </dev/null || failed=1
  if [ $failed -eq 0 ]; then echo "mingw examples: ok"; else echo "mingw examples: FAIL (see $dir/examples.log)"; fi
  return $failed
}

cmd_windows() {
  windows_build
  [ "${TESTS:-1}" = 0 ] && return 0
  wine_ready
  local rc=0
  run_suites mingw wine || rc=1
  run_examples_windows || rc=1
  return $rc
}

# --- standard C++ only ---

cmd_pedantic() {
  install_packages clang cmake make g++-mingw-w64-x86-64-posix
  log "clang++ -pedantic-errors, Linux"
  cmake -S "$ROOT" -B "$OUT/pedantic" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-pedantic-errors -Werror" \
    -DVELFILE_BUILD_TESTS=OFF -DVELFILE_BUILD_TOOLS=OFF -DVELFILE_BUILD_EXAMPLES=OFF -DVELFILE_BUILD_PYTHON=OFF >/dev/null
  cmake --build "$OUT/pedantic" -j"$JOBS" --target velfile
  # Windows: every source of the library (its Windows platform layer among
  # them) checked by clang against the mingw-w64 headers.
  log "clang++ -pedantic-errors, Windows"
  local cxx=/usr/lib/gcc/x86_64-w64-mingw32/12-posix/include/c++ failed=0 source
  local flags=(--target=x86_64-w64-mingw32 -std=c++17 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only
    -isystem "$cxx" -isystem "$cxx/x86_64-w64-mingw32" -I"$ROOT/include" -I"$ROOT/private/platform" -I"$ROOT/private/src"
    -I"$ROOT/private/layer" -DVELFILE_BUILDING)
  while IFS= read -r source; do
    clang++ "${flags[@]}" "$source" || failed=1
  done < <(find "$ROOT/private" -name '*.cpp' | sort)
  if [ $failed -eq 0 ]; then echo "pedantic: 1 passed, 0 failed"; else echo "pedantic: 0 passed, 1 failed"; fi
  return $failed
}

# --- interchange ---

cmd_interchange() {
  local exe=velfile_test_interchange
  install_packages build-essential cmake libgtest-dev
  log "native build"
  cmake -S "$ROOT" -B "$OUT/native" -DCMAKE_BUILD_TYPE="$BUILD_TYPE" -DVELFILE_BUILD_TOOLS=OFF \
    -DVELFILE_BUILD_EXAMPLES=OFF -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
  cmake --build "$OUT/native" -j"$JOBS" --target "$exe"
  s390x_build --target "$exe"
  local -A run=([native]="$OUT/native/tests/$exe" [s390x]="qemu-s390x $OUT/s390x/tests/$exe")
  local machines=(native s390x)
  if [ "${WINDOWS:-0}" = 1 ]; then
    windows_build --target "$exe"
    wine_ready
    run[windows]="wine $OUT/mingw/tests/$exe.exe"
    machines+=(windows)
  fi
  local work="$OUT/interchange" failed=0
  rm -rf "$work"
  mkdir -p "$work"
  # Every machine writes a corpus; every other one reads it, adds a section
  # in its own byte order to the .A01 file, and the writer reads it again.
  for writer in "${machines[@]}"; do
    mkdir -p "$work/$writer"
    (cd "$work" && ${run[$writer]} write "$writer") || failed=1
  done
  for writer in "${machines[@]}"; do
    for reader in "${machines[@]}"; do
      [ "$writer" = "$reader" ] && continue
      (cd "$work" && ${run[$reader]} verify "$writer") || failed=1
    done
  done
  for writer in "${machines[@]}"; do
    for reader in "${machines[@]}"; do
      [ "$writer" = "$reader" ] && continue
      (cd "$work" && ${run[$reader]} extend "$writer") || failed=1
    done
    for reader in "${machines[@]}"; do
      (cd "$work" && ${run[$reader]} verify "$writer") || failed=1
    done
  done
  # Machines of one byte order write the same bytes.
  if [ -d "$work/windows" ]; then
    for f in "$work"/native/*.bin; do
      cmp "$f" "$work/windows/$(basename "$f")" || failed=1
    done
  fi
  if [ $failed -eq 0 ]; then echo "interchange: 1 passed, 0 failed"; else echo "interchange: 0 passed, 1 failed"; fi
  return $failed
}

case "${1:-}" in
  s390x) cmd_s390x ;;
  windows) cmd_windows ;;
  interchange) cmd_interchange ;;
  pedantic) cmd_pedantic ;;
  all)
    rc=0
    cmd_pedantic || rc=1
    cmd_interchange || rc=1
    cmd_s390x || rc=1
    cmd_windows || rc=1
    exit $rc
    ;;
  *)
    sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
