#!/usr/bin/env bash
# Runs a command the way the tests expect their world: a temporary HOME and
# XDG folders, no display, the offscreen Qt platform, and a private D-Bus
# session bus with its own unlocked gnome-keyring, so no test can touch the
# user's real home, keyring or session.
set -euo pipefail

# The folder names this script's process, so a run that was killed before it
# could clean up has its folder removed by the next run.
tmp=${TMPDIR:-/tmp}
bash "$(dirname "$0")/remove-ended-test-folders.sh" "$tmp"
scratch=$(mktemp -d "$tmp/velmora-session-$$-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
# A signal ends the script through its EXIT trap, once the command has ended.
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM
mkdir -p "$scratch/home/.local/share" "$scratch/home/.config" "$scratch/home/.cache" "$scratch/runtime"
chmod 700 "$scratch/runtime"

export HOME="$scratch/home"
export XDG_DATA_HOME="$HOME/.local/share"
export XDG_CONFIG_HOME="$HOME/.config"
export XDG_CACHE_HOME="$HOME/.cache"
export XDG_RUNTIME_DIR="$scratch/runtime"
export QT_QPA_PLATFORM=offscreen
unset WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS
# Only a screenshot run (scripts/screenshots.sh, inside its own Xvfb) keeps the display.
if [ "${VELMORA_TEST_QPA:-}" != "xcb" ]; then unset DISPLAY; fi

# Inside the private bus: start the keyring daemon unlocked with a throwaway
# password (it reads it from stdin), then run the command. The daemon claims
# its bus name a moment after it forks; a client that came earlier would
# D-Bus-activate a second daemon and race it for the login keyring, so wait
# for the name and check that the default collection really is unlocked.
# Not exec: the EXIT trap above must still run.
status=0
dbus-run-session -- bash -c '
  printf "velmora-test-password" | gnome-keyring-daemon --daemonize --unlock --components=secrets >/dev/null
  for _ in $(seq 100); do
    if dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
         org.freedesktop.DBus.NameHasOwner string:org.freedesktop.secrets 2>/dev/null | grep -q "boolean true"; then
      break
    fi
    sleep 0.1
  done
  if ! dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets/aliases/default \
         org.freedesktop.DBus.Properties.Get string:org.freedesktop.Secret.Collection string:Locked 2>/dev/null \
       | grep -q "boolean false"; then
    echo "with-test-session: the test keyring did not come up unlocked" >&2
    exit 1
  fi
  # Tests that use the keyring run only when they see this mark, so a plain
  # ctest outside this script never writes into the real keyring.
  export VELMORA_PRIVATE_TEST_KEYRING=1
  exec "$@"' velmora-session "$@" || status=$?
exit "$status"
