#!/usr/bin/env bash
# Installs what is missing, builds a release build of Velmora, installs its
# desktop entry and icon for the current user, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DVELMORA_BENCHMARKS=OFF >/dev/null
cmake --build build-release --parallel "$(nproc)"

binary="$PWD/build-release/velmora"
data="${XDG_DATA_HOME:-$HOME/.local/share}"
mkdir -p "$data/applications" "$data/icons/hicolor/scalable/apps"
install -m 0644 src/app/resources/velmora.svg "$data/icons/hicolor/scalable/apps/com.tolvenix.Velmora.svg"
# The desktop entry names the binary by its absolute path; quote it per the
# desktop entry rules (a space in the checkout path must survive).
exec_line="\"$(printf '%s' "$binary" | sed -e 's/[\\"`$]/\\\\&/g')\""
entry=src/app/resources/com.tolvenix.Velmora.desktop.in
{ head -n 1 "$entry"; printf 'Exec=%s\n' "$exec_line"; tail -n +2 "$entry" | grep -v '^Exec='; } \
  > "$data/applications/com.tolvenix.Velmora.desktop"
command -v update-desktop-database >/dev/null && update-desktop-database -q "$data/applications" || true
command -v gtk-update-icon-cache >/dev/null && gtk-update-icon-cache -q -t "$data/icons/hicolor" || true

exec "$binary" "$@"
