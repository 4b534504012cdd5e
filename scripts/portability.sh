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
#   scripts/portability.sh all          the three of them
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
export WINEPREFIX="$OUT/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

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
    -DGTest_DIR="$OUT/prefix-$target/lib/cmake/GTest" -DVELFILE_BUILD_TOOLS=OFF -DVELFILE_BUILD_EXAMPLES=OFF \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
  # Keep going past a program that does not compile: run_suites reports it.
  if ! cmake --build "$OUT/$target" -j"$JOBS" "$@" -- -k >"$OUT/$target.build.log" 2>&1; then
    grep -E 'error' "$OUT/$target.build.log" | grep -vE '^g?make|Error [0-9]' | head -20 >&2 || true
    log "$target: some targets did not build (see build-cross/$target.build.log)"
  fi
}

# Runs every test program of build-cross/$1 with the runner ($2...), one
# process per program; prints a summary line per program and a total.
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
    "$@" "$exe" --gtest_brief=1 >"$OUT/$target/$name.log" 2>&1 </dev/null || rc=$?
    out="$(cat "$OUT/$target/$name.log")"
    local summary
    summary="$(grep -E '^\[  (PASSED|FAILED|SKIPPED) ' <<<"$out" | tr -s ' ' | tr '\n' ' ')"
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

# VelChar is wchar_t on Windows, so UTF-16 literals written u"..." in the
# tests do not convert to it. The Windows build compiles a copy of the tests
# (and of the fuzz helpers they include) in which they are L"..." and
# char16_t is wchar_t, both 16 bits there. Copies whose content did not
# change keep their time stamps.
STAGED_DIRS=(tests fuzz)

stage_windows_sources() {
  local stage="$OUT/windows-src" tmp item name dir
  mkdir -p "$stage"
  for item in "$ROOT"/*; do
    name="$(basename "$item")"
    case " ${STAGED_DIRS[*]} " in *" $name "*) continue ;; esac
    case "$name" in build*) continue ;; esac
    ln -sfn "$item" "$stage/$name"
  done
  tmp="$(mktemp)"
  for dir in "${STAGED_DIRS[@]}"; do
    [ -d "$ROOT/$dir" ] || continue
    rm -f "$stage/$dir" 2>/dev/null || true  # a symbolic link of an earlier layout
    mkdir -p "$stage/$dir"
    for item in "$ROOT/$dir"/*; do
      if [ -d "$item" ]; then
        ln -sfn "$item" "$stage/$dir/$(basename "$item")"  # data, not sources
        continue
      fi
      sed -E "s/\bu\"/L\"/g; s/\bu'/L'/g; s/\bchar16_t\b/wchar_t/g; s/\bstd::u16string\b/std::wstring/g" \
        "$item" >"$tmp"
      cmp -s "$tmp" "$stage/$dir/$(basename "$item")" || cp "$tmp" "$stage/$dir/$(basename "$item")"
    done
    for item in "$stage/$dir"/*; do [ -e "$ROOT/$dir/$(basename "$item")" ] || rm -f "$item"; done
  done
  rm -f "$tmp"
  echo "$stage"
}

windows_build() {
  install_packages g++-mingw-w64-x86-64-posix cmake make googletest
  build_gtest mingw "$ROOT/cmake/toolchain-mingw64.cmake"
  build_project mingw "$(stage_windows_sources)" "$ROOT/cmake/toolchain-mingw64.cmake" "$@"
}

wine_ready() {
  install_packages wine64 wine
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    log "creating the wine prefix"
    wineboot --init >/dev/null 2>&1 || true
  fi
  # One server, and its side programs, for every program of the run; it is
  # stopped when the script ends, so that nothing holds the script's output.
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
  wineserver -p 60 >/dev/null 2>&1 </dev/null || true
  wine cmd /c exit >/dev/null 2>&1 </dev/null || true
}

cmd_windows() {
  windows_build
  [ "${TESTS:-1}" = 0 ] && return 0
  wine_ready
  run_suites mingw wine
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
  all)
    rc=0
    cmd_interchange || rc=1
    cmd_s390x || rc=1
    cmd_windows || rc=1
    exit $rc
    ;;
  *)
    sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
    ;;
esac
