#!/usr/bin/env bash
# Installs what is missing, builds a release build of Velmora, installs its
# desktop entry and icon for the current user, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

# Both are needed at the end; finding out after minutes of building helps no one.
data_home="${XDG_DATA_HOME:-$HOME/.local/share}"
existing="$data_home"
while [ ! -e "$existing" ] && [ "$existing" != "/" ] && [ "$existing" != "." ]; do
    existing="$(dirname "$existing")"
done
if [ ! -d "$existing" ] || [ ! -w "$existing" ] || [ ! -x "$existing" ]; then
    echo "run.sh: $data_home can't be written, and Velmora keeps its data and its desktop entry there." >&2
    exit 1
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run.sh: Velmora needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
    exit 1
fi

bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_BENCHMARKS=OFF >/dev/null
cmake --build build-release --parallel "$(nproc)"

binary="$PWD/build-release/velmora"
bash scripts/install-desktop-entry.sh "$binary"

exec "$binary" "$@"
