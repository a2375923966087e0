#!/usr/bin/env bash
# Installs what is missing, builds a release build of Velmora, installs its
# desktop entry and icon for the current user, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_BENCHMARKS=OFF >/dev/null
cmake --build build-release --parallel "$(nproc)"

binary="$PWD/build-release/velmora"
bash scripts/install-desktop-entry.sh "$binary"

exec "$binary" "$@"
