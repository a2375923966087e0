#!/usr/bin/env bash
# Prints --fresh, the option that has cmake configure a build folder anew,
# when the folder given was configured for another place (the checkout, or the
# folder, was moved or copied since), which CMake refuses otherwise ("The
# current CMakeCache.txt directory … is different"); says so in one line on
# standard error. Prints nothing for a folder configured here, or not at all.
#   cmake $(bash scripts/fresh-if-moved.sh BUILD_FOLDER) -S . -B BUILD_FOLDER …
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ]; then
  echo "usage: scripts/fresh-if-moved.sh BUILD_FOLDER" >&2
  exit 2
fi
cache="$1/CMakeCache.txt"
[ -f "$cache" ] || exit 0
cached() { sed -n "s/^$1:INTERNAL=//p" "$cache" | head -n 1; }
build_folder=$(cached CMAKE_CACHEFILE_DIR)
source_folder=$(cached CMAKE_HOME_DIRECTORY)
# As CMake compares them: the same files, not the same spelling of a path.
if [ "$build_folder/CMakeCache.txt" -ef "$cache" ] && [ "$source_folder/CMakeLists.txt" -ef CMakeLists.txt ]; then
  exit 0
fi
echo "$1 was configured for $build_folder (sources in $source_folder); configuring it afresh here." >&2
echo --fresh
