#!/usr/bin/env bash
# Writes a PNG of every screen, light and dark, into build-plain/screenshots/.
# Screenshot tests are the test cases whose suite name ends in "Screenshots";
# they run on a real X server (Xvfb) and skip themselves in ordinary test runs.
# The tray test, which needs a real X display too, runs with them.
set -euo pipefail
cd "$(dirname "$0")/.."

build=1 update_docs=0
for argument in "$@"; do
  case $argument in
    --no-build) build=0 ;;
    --update-docs) update_docs=1 ;;  # also refresh the README's pictures in docs/
  esac
done

if [ "$build" = 1 ]; then
  bash scripts/install-deps.sh
  cmake $(bash scripts/fresh-if-moved.sh build-plain) -S . -B build-plain -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build-plain --parallel "$(nproc)"
fi

out="$PWD/build-plain/screenshots"
rm -rf "$out"
mkdir -p "$out"
export VELMORA_TEST_QPA=xcb
export VELMORA_SCREENSHOT_DIR="$out"
xvfb-run -a -s "-screen 0 1600x1200x24" \
  bash scripts/with-test-session.sh \
  ctest --test-dir build-plain --output-on-failure -R 'Screenshots\.|MenuBarTrayTest\.' --parallel "$(nproc)"
if [ "$update_docs" = 1 ]; then
  cp "$out/walk/03-running.png" docs/main-window.png
  cp "$out/walk/09-panel.png" docs/tray-panel.png
fi
echo "Screenshots in $out"
