#!/usr/bin/env bash
# Builds the API reference from include/velfile/ with Doxygen (docs/Doxyfile)
# into build/docs/html (or the directory given as the first argument). Fails
# on any Doxygen warning: an undocumented operation, member, parameter or
# result, or a malformed comment.
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/docs}"
command -v doxygen >/dev/null || { echo "docs: doxygen is not installed (scripts/setup.sh)" >&2; exit 1; }
mkdir -p "$out"
log="$out/warnings.log"
# The Doxyfile with the output directory and the warning log set here.
rm -f "$log"
status=0
{ cat docs/Doxyfile; echo "OUTPUT_DIRECTORY = $out"; echo "WARN_LOGFILE = $log"; } | doxygen - >/dev/null || status=$?
if [ "$status" -ne 0 ] || [ -s "$log" ]; then
  cat "$log" >&2
  echo "docs: Doxygen warned (see above)" >&2
  exit 1
fi
echo "docs: $out/html/index.html"
