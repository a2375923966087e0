#!/usr/bin/env bash
# Installs what is missing, builds a release build of Velmora and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_BENCHMARKS=OFF >/dev/null
cmake --build build-release --parallel "$(nproc)"

if [ -x build-release/velmora ]; then
  exec build-release/velmora
fi
echo "Velmora's libraries are built in build-release/, but the application window does not exist yet, so there is nothing to start."
