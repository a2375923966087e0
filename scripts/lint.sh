#!/usr/bin/env bash
# Runs clang-tidy, with the checks in .clang-tidy, over Velmora's sources.
#
#   scripts/lint.sh [PATH…]   every source under the paths (default: src); a
#                             path that does not exist or holds no .cpp fails
#   scripts/lint.sh --ci      the sources changed since the newest tag (all of
#                             them when there is no tag; none, and a pass, when
#                             nothing changed), at most LINT_CI_FILES
#                             (default 40) of them: beyond that an evenly spread,
#                             fixed sample, so the cost in CI stays bounded
#
# clang-tidy cannot read GCC's precompiled headers, so it reads a copy of
# build-plain's compile database without them. Prints every finding once and
# every file clang-tidy could not read; exits 1 when there is either.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=${LINT_JOBS:-4}
build=build-plain

ci=0
if [ "${1:-}" = "--ci" ]; then
  ci=1
  shift
fi
paths=("$@")
[ ${#paths[@]} -eq 0 ] && paths=(src)
# A path that is misspelt, or holds nothing clang-tidy reads on its own (a
# header is linted through the source that includes it), is an error: linting
# nothing must not pass for a clean result.
files=()
for path in "${paths[@]}"; do
  if [ ! -e "$path" ]; then
    echo "clang-tidy: $path: no such file or folder" >&2
    exit 1
  fi
  mapfile -t found < <(find "$path" -name '*.cpp' -type f -print | sed 's|^\./||' | sort)
  if [ ${#found[@]} -eq 0 ]; then
    if [ -d "$path" ]; then
      echo "clang-tidy: $path: holds no .cpp source" >&2
    else
      echo "clang-tidy: $path: not a .cpp source (a header is linted through a source that includes it)" >&2
    fi
    exit 1
  fi
  files+=("${found[@]}")
done

if [ "$ci" -eq 1 ]; then
  # A fresh clone has the tags of the commits it fetched; a shallow one may
  # lack them, so ask the remote once before falling back to a sample.
  if ! git describe --tags --abbrev=0 >/dev/null 2>&1 && git remote get-url origin >/dev/null 2>&1; then
    git fetch --quiet --tags origin 2>/dev/null || true
  fi
  if tag=$(git describe --tags --abbrev=0 2>/dev/null) &&
    changes=$(git diff --name-only "$tag" -- src 2>/dev/null); then
    # A changed header is linted through the source of the same name; a new
    # source not yet added to git counts as changed.
    mapfile -t changed < <({ printf '%s\n' "$changes"; git ls-files --others --exclude-standard -- src; } |
      sed 's/\.h$/.cpp/' | sort -u)
    mapfile -t files < <(comm -12 <(printf '%s\n' "${files[@]}") <(printf '%s\n' "${changed[@]}"))
    if [ ${#files[@]} -eq 0 ]; then
      echo "clang-tidy: no source changed since $tag"
      exit 0
    fi
    echo "clang-tidy: sources changed since $tag"
  else
    echo "clang-tidy: no tag to compare with, so every source counts as changed"
  fi
  limit=${LINT_CI_FILES:-40}
  if [ ${#files[@]} -gt "$limit" ]; then
    step=$(((${#files[@]} + limit - 1) / limit))
    mapfile -t files < <(printf '%s\n' "${files[@]}" | awk -v step="$step" '(NR - 1) % step == 0')
    echo "clang-tidy: a sample of one source in $step"
  fi
fi

# The sources include headers that moc generates, so the build must have run,
# here: a moved checkout's compile database names the old paths.
fresh=$(bash scripts/fresh-if-moved.sh "$build")
if [ ! -f "$build/compile_commands.json" ] || [ -n "$fresh" ]; then
  cmake $fresh -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --parallel "$jobs" >/dev/null
fi

work=$build/lint
rm -rf "$work"
mkdir -p "$work/logs"
python3 - "$build/compile_commands.json" "$work/compile_commands.json" <<'EOF'
import json, re, sys
entries = json.load(open(sys.argv[1]))
for entry in entries:
    entry["command"] = re.sub(r"\s+-Winvalid-pch|\s+-include\s+\S*cmake_pch\.hxx", "", entry["command"])
json.dump(entries, open(sys.argv[2], "w"))
EOF

# One log per source; a source clang-tidy failed on is also listed in "failed".
export work
printf '%s\n' "${files[@]}" | xargs -P "$jobs" -I{} sh -c '
  log="$work/logs/$(printf %s "$1" | tr / _).log"
  clang-tidy -p "$work" --quiet --extra-arg=-fno-color-diagnostics "$1" >"$log" 2>&1 ||
    echo "$1" >>"$work/failed"' _ {}

# A header included by several sources is reported once per source.
findings=$(cat "$work"/logs/*.log | grep -E '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' | sed "s|^$PWD/||" | sort -u || true)
count=$(printf '%s' "$findings" | grep -c . || true)
[ -n "$findings" ] && printf '%s\n' "$findings"

failed=0
if [ -f "$work/failed" ]; then
  while read -r file; do
    log="$work/logs/$(printf %s "$file" | tr / _).log"
    # A failure with findings is already reported; one without is a tool error.
    if ! grep -qE '^[^ ]+:[0-9]+:[0-9]+: (warning|error):' "$log"; then
      echo "clang-tidy failed on $file:"
      grep -v '^[0-9]* warnings\? generated' "$log" | tail -n 20 | sed 's/^/  /'
      failed=$((failed + 1))
    fi
  done <"$work/failed"
fi

echo "clang-tidy: $count finding(s), $failed tool error(s) in ${#files[@]} file(s)"
[ "$count" -eq 0 ] && [ "$failed" -eq 0 ]
