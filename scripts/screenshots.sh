#!/usr/bin/env bash
# Writes a PNG of every screen, light and dark, into build-plain/screenshots/.
# Screenshot tests are the test cases whose suite name ends in "Screenshots";
# they run on a real X server (Xvfb) and skip themselves in ordinary test runs.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${1:-}" != "--no-build" ]; then
  bash scripts/install-deps.sh
  cmake -S . -B build-plain -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-plain --parallel "$(nproc)"
fi

out="$PWD/build-plain/screenshots"
rm -rf "$out"
mkdir -p "$out"
export VELMORA_TEST_QPA=xcb
export VELMORA_SCREENSHOT_DIR="$out"
xvfb-run -a -s "-screen 0 1600x1200x24" \
  bash scripts/with-test-session.sh \
  ctest --test-dir build-plain --output-on-failure -R 'Screenshots\.' --parallel "$(nproc)"
echo "Screenshots in $out"
