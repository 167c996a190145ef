#!/usr/bin/env bash
# Installs a build of the project into a temporary prefix, builds the example
# consumer and the example exporter (outside projects that find the package
# with find_package) and runs them. Argument: the build folder (default build/default).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a step quietly; shows its output when it fails.
step() {
  if ! "$@" >"$work/step.log" 2>&1; then
    cat "$work/step.log"
    echo "check-install: failed: $*" >&2
    exit 1
  fi
}

step cmake --install "$build" --prefix "$work/prefix"
# Everything the installed headers mark as exported is exported.
lib=$(ls "$work"/prefix/lib*/libLibraryManager.so)
bash scripts/check-symbols.sh "$lib" "$work/prefix/include/LibraryManager"
# The tools are installed beside the library.
[ -x "$work/prefix/bin/lpf" ] || { echo "check-install: lpf is not installed in bin/" >&2; exit 1; }
step "$work/prefix/bin/lpf" --version
[ -x "$work/prefix/bin/libman" ] || { echo "check-install: libman is not installed in bin/" >&2; exit 1; }
step "$work/prefix/bin/libman" --version
step cmake -S examples/consumer -B "$work/consumer" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
     -DCMAKE_PREFIX_PATH="$work/prefix"
step cmake --build "$work/consumer"
# A small generated library, and a second one as the cache copy of a URL
# library; the consumer enumerates both, searches and walks the hierarchy.
mkdir "$work/Example Library"
step "$work/prefix/bin/lpf" generate "$work/Example Library" --parts 200 --seed 3
step "$work/prefix/bin/lpf" generate "$work/urlcache/Shared Parts" --parts 40 --seed 4
output=$("$work/consumer/consumer" "$work/Example Library" "$work/urlcache")
echo "$output"
parts=$(sed -n 's/^parts: //p' <<<"$output")
if ! grep -qx 'library: Example Library' <<<"$output" || ! grep -qx 'libraries: 2' <<<"$output" ||
   ! grep -qx 'enumerated: yes' <<<"$output" || ! grep -qx 'search by name: found' <<<"$output" ||
   ! grep -q '^path tree: 2 nodes on the door' <<<"$output" || [ "${parts:-0}" -lt 240 ]; then
  echo "check-install: the consumer printed something else" >&2
  exit 1
fi

# The exporter example: the path tree and the hierarchy's export come from
# the installed library alone. It prints the whole outline, siblings by their
# identifiers' text descending; named on the command line, a node's children
# are skipped.
step cmake -S examples/exporter -B "$work/exporter" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
     -DCMAKE_PREFIX_PATH="$work/prefix"
step cmake --build "$work/exporter"
id() { printf '{%08d-0000-0000-0000-000000000000}-{00000001-0000-0000-0000-000000000000}' "$1"; }
expected=$(printf '%s (no part)\n  %s (no part)\n  %s (no part)\n    %s (no part)\nresult: 0' \
                  "$(id 1)" "$(id 3)" "$(id 2)" "$(id 4)")
output=$("$work/exporter/exporter")
if [ "$output" != "$expected" ]; then
  echo "$output"
  echo "check-install: the exporter printed something else" >&2
  exit 1
fi
skipped=$("$work/exporter/exporter" "$(id 2)")
if grep -q '{00000004-' <<<"$skipped" || ! grep -q '^  {00000002-' <<<"$skipped" ||
   ! grep -qx 'result: 0' <<<"$skipped"; then
  echo "$skipped"
  echo "check-install: the exporter did not skip below the named node" >&2
  exit 1
fi
echo "check-install: the installed package builds and runs the example consumer and exporter"
