#!/usr/bin/env bash
# Installs Velmora's desktop entry and icon for the current user, so that the
# desktop's application menu and task switcher know it. The entry starts the
# binary given as the only argument, named by its absolute path.
#   bash scripts/install-desktop-entry.sh /path/to/velmora
# Undo with:
#   rm "${XDG_DATA_HOME:-$HOME/.local/share}/applications/com.tolvenix.Velmora.desktop" \
#      "${XDG_DATA_HOME:-$HOME/.local/share}/icons/hicolor/scalable/apps/com.tolvenix.Velmora.svg"
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ]; then
  echo "usage: $0 /absolute/path/to/velmora" >&2
  exit 2
fi
binary=$(realpath -m -- "$1")

data="${XDG_DATA_HOME:-$HOME/.local/share}"
mkdir -p "$data/applications" "$data/icons/hicolor/scalable/apps"
install -m 0644 src/app/resources/velmora.svg "$data/icons/hicolor/scalable/apps/com.tolvenix.Velmora.svg"
# Quoted per the desktop entry rules, so that a space in the checkout path survives.
exec_line="\"$(printf '%s' "$binary" | sed -e 's/[\\"`$]/\\\\&/g')\""
entry=src/app/resources/com.tolvenix.Velmora.desktop.in
{ head -n 1 "$entry"; printf 'Exec=%s\n' "$exec_line"; tail -n +2 "$entry" | grep -v '^Exec='; } \
  > "$data/applications/com.tolvenix.Velmora.desktop"
command -v update-desktop-database >/dev/null && update-desktop-database -q "$data/applications" || true
command -v gtk-update-icon-cache >/dev/null && gtk-update-icon-cache -q -t "$data/icons/hicolor" || true
