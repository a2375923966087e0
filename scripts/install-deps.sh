#!/usr/bin/env bash
# Installs the Debian packages that building and testing Velmora need.
# Idempotent: does nothing when every package is present, and refreshes the
# package lists only when something has to be installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qcoro-qt6-dev
  rapidjson-dev libssl-dev libicu-dev libsecret-1-dev libpam0g-dev libglib2.0-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-tidy clang-format python3
  zsh procps util-linux passwd
  xvfb xauth xterm dbus dbus-x11 gnome-keyring libsecret-tools
  qt6-qpa-plugins fonts-dejavu-core libqt6svg6 adwaita-icon-theme
  at-spi2-core xdotool x11-utils
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
