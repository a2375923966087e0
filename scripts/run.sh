#!/usr/bin/env bash
# Installs what is missing, builds a release build of Velmora, installs its
# desktop entry and icon for the current user, and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

# Velmora refuses to start without a data folder of its own that takes new
# files, and the desktop entry goes beside it: finding out after minutes of
# building helps no one. (The lock file is left alone: a running Velmora holds it.)
data_home="${XDG_DATA_HOME:-$HOME/.local/share}"
data_folder="$data_home/com.tolvenix.Velmora"
check_data_folder() {
    mkdir -p "$data_home" && { [ -d "$data_folder" ] || mkdir -m 700 "$data_folder"; } || return 1
    local probe
    probe=$(mktemp -p "$data_folder" .run-check.XXXXXXXX) && rm -f "$probe"
}
if ! reason=$(check_data_folder 2>&1); then
    echo "run.sh: Velmora's data folder $data_folder can't be made or written: $reason" >&2
    exit 1
fi
if [ ! -O "$data_folder" ]; then
    echo "run.sh: Velmora's data folder $data_folder belongs to another user." >&2
    exit 1
fi
if [ ! -w "$data_home" ]; then
    echo "run.sh: $data_home can't be written, and the desktop entry goes there." >&2
    exit 1
fi

bash scripts/install-deps.sh

# The question Velmora asks at start, before minutes of building: does the X
# display answer within 5 s (a whole connection, so a refused authorisation
# counts, and a stopped server is not waited for), or else does the Wayland
# display's socket take a connection (a socket file left behind by a compositor
# that ended does not)? A platform chosen by hand needs neither.
if [ -z "${QT_QPA_PLATFORM:-}" ]; then
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "run.sh: Velmora needs a graphical session: neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
        exit 1
    fi
    x11_answers=0 x11_silence="" wayland_answers=0 wayland_failure=""
    if [ -n "${DISPLAY:-}" ]; then
        if timeout 5 xdpyinfo >/dev/null 2>&1; then
            x11_answers=1
        elif [ $? = 124 ]; then
            x11_silence=" (it said nothing for 5 s)"
        fi
    fi
    if [ "$x11_answers" = 0 ] && [ -n "${WAYLAND_DISPLAY:-}" ]; then
        wayland_socket="$WAYLAND_DISPLAY"
        if [ "${wayland_socket:0:1}" != / ]; then wayland_socket="${XDG_RUNTIME_DIR:-}/$wayland_socket"; fi
        if wayland_failure=$(timeout 5 python3 -c '
import socket, sys
try:
    socket.socket(socket.AF_UNIX).connect(sys.argv[1])
except OSError as error:
    sys.exit(error.strerror or str(error))' "$wayland_socket" 2>&1); then
            wayland_answers=1
        else
            wayland_failure=" that answers (${wayland_failure:-it took no connection in 5 s})"
        fi
    fi
    if [ "$x11_answers" = 0 ] && [ "$wayland_answers" = 0 ]; then
        echo "run.sh: Velmora can't open a window: no X server answers at DISPLAY \"${DISPLAY:-}\"$x11_silence," \
            "and WAYLAND_DISPLAY \"${WAYLAND_DISPLAY:-}\" names no Wayland socket$wayland_failure." >&2
        exit 1
    fi
fi

bash scripts/build-release.sh build-release

binary="$PWD/build-release/velmora"
bash scripts/install-desktop-entry.sh "$binary"

exec "$binary" "$@"
