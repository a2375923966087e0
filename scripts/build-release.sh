#!/usr/bin/env bash
# Configures and builds Velmora's release build (the application alone) in the
# folder given; further arguments go to cmake when it configures. The one
# recipe for what a user runs: scripts/run.sh builds it, and scripts/test.sh
# builds it too, with warnings as errors, so CI proves that it compiles.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
    echo "usage: scripts/build-release.sh BUILD_FOLDER [CMAKE_ARGUMENT…]" >&2
    exit 2
fi
folder=$1
shift
# A folder configured before the checkout moved is configured afresh.
cmake $(bash scripts/fresh-if-moved.sh "$folder") -S . -B "$folder" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_TESTING=OFF -DVELMORA_BENCHMARKS=OFF "$@" >/dev/null
cmake --build "$folder" --parallel "$(nproc)"
