#!/usr/bin/env bash
# Runs clang-tidy, with the checks in .clang-tidy, over Velmora's sources using
# build-plain's compile commands, four files at a time. Arguments narrow the
# run to folders or files (default: src). Prints each finding once and a count;
# exits 1 when there is any finding.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${LINT_JOBS:-4}
build=build-plain

# The sources include headers that moc generates, so the build must have run.
if [ ! -f "$build/compile_commands.json" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --parallel "$jobs" >/dev/null
fi

paths=("$@")
[ ${#paths[@]} -eq 0 ] && paths=(src)
mapfile -t files < <(find "${paths[@]}" -name '*.cpp' -print | sort)
if [ ${#files[@]} -eq 0 ]; then
  echo "No sources under ${paths[*]}"
  exit 0
fi

log=$build/clang-tidy.log
if command -v run-clang-tidy >/dev/null; then
  # run-clang-tidy takes regular expressions; anchored absolute paths name the files.
  mapfile -t patterns < <(printf '^%s$\n' "${files[@]/#/$PWD/}" | sed 's/[.+]/\\&/g')
  run-clang-tidy -p "$build" -j "$jobs" -quiet -extra-arg=-fno-color-diagnostics "${patterns[@]}" >"$log" 2>&1 || true
else
  printf '%s\n' "${files[@]}" | xargs -P "$jobs" -n 4 clang-tidy -p "$build" --quiet --extra-arg=-fno-color-diagnostics >"$log" 2>&1 || true
fi

# A header included by several sources is reported once per source.
findings=$(sed 's/\x1b\[[0-9;]*m//g' "$log" | grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' | sed "s|^$PWD/||" | sort -u || true)
count=$(printf '%s' "$findings" | grep -c . || true)
[ -n "$findings" ] && printf '%s\n' "$findings"
echo "clang-tidy: $count finding(s) in ${#files[@]} file(s)"
[ "$count" -eq 0 ]
