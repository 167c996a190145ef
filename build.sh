#!/usr/bin/env bash
# Developer entry point: installs what a fresh Debian 12 machine lacks,
# configures, builds and runs. Running it again only rebuilds what changed.
#
#   ./build.sh demo       build, then run the tool on a built-in sample
#   ./build.sh test       build and run the test suite
#   ./build.sh sanitize   the test suite under AddressSanitizer + UBSan
#   ./build.sh bench      build the release preset and run the benchmarks
set -euo pipefail
cd "$(dirname "$0")"

packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          libzip-dev zipcmp libcli11-dev nlohmann-json3-dev libgraphviz-dev zip)

install_missing() {
  local missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

configure_and_build() {
  local preset=$1
  # A configure that failed half way leaves a cache but no build.ninja:
  # configure again until there is something to build.
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset"
}

case "${1:-}" in
  demo)
    install_missing
    configure_and_build default
    exec bash scripts/demo.sh build/default
    ;;
  test)
    install_missing
    configure_and_build default
    ctest --preset default
    ;;
  sanitize)
    install_missing
    configure_and_build sanitize
    ctest --preset sanitize
    ;;
  bench)
    install_missing
    configure_and_build release
    for b in build/release/bench/*_bench; do [ -x "$b" ] && "$b"; done
    ;;
  *)
    # The comment block at the top, without the code after it.
    sed -n '2,/^[^#]/{/^#/p}' "$0"
    exit 2
    ;;
esac
