#!/usr/bin/env bash
# Installs the Debian packages that building and testing Velmora need.
# Idempotent: does nothing when every package is present, and refreshes the
# package lists only when something has to be installed.
set -euo pipefail

packages=(
  # Building
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qcoro-qt6-dev
  rapidjson-dev libssl-dev libicu-dev libsecret-1-dev libpam0g-dev libglib2.0-dev libxcb1-dev libxcb-xkb-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-tidy clang-format python3
  # Running: services' shells and tools, the X11 and Wayland platform plugins, icons
  zsh procps util-linux passwd
  qt6-qpa-plugins qt6-wayland fonts-dejavu-core libqt6svg6 adwaita-icon-theme
  # Testing: private X server and Wayland compositor, session bus and keyring,
  # accessibility bus, the desktop entry's validator, and a real sudo for the
  # root run's password tests
  xvfb xauth xterm weston dbus dbus-x11 gnome-keyring libsecret-tools
  at-spi2-core xdotool x11-utils x11-xserver-utils desktop-file-utils sudo
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
