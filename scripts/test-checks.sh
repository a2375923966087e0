#!/usr/bin/env bash
# Plants faults where check-includes.sh and lint.sh must see them, in a scratch
# copy of the two scripts over a small tree of stub sources, and fails when a
# check passes a fault or fails a clean tree; and shows that a build folder
# configured before its checkout moved is configured afresh. Needs no build;
# takes a second.
set -euo pipefail
cd "$(dirname "$0")/.."

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/scripts"
cp scripts/check-includes.sh scripts/lint.sh scripts/remove-ended-test-folders.sh scripts/fresh-if-moved.sh \
  "$scratch/scripts/"
cd "$scratch"
for stub in platform/Base.h platform/Base.cpp records/Store.h app/AppEnvironment.h ui/launch/Flow.h \
  ui/screens/services/ServicesController.h ui/screens/profiles/ProfilesController.h; do
  mkdir -p "src/$(dirname "$stub")"
  echo '#pragma once' >"src/$stub"
done

failures=0
# expect NAME PASS|FAIL MESSAGE COMMAND…: runs the command and checks both its
# outcome and that it says why (a check that fails for another reason, such as
# a missing tool, does not count as catching the fault).
expect() {
  local name=$1 want=$2 message=$3 got=PASS
  shift 3
  local output
  output=$("$@" 2>&1) || got=FAIL
  if [ "$got" != "$want" ] || ! grep -qF -- "$message" <<<"$output"; then
    echo "FAILED: $name: expected $want saying \"$message\", got $got:"
    sed 's/^/  /' <<<"$output"
    failures=$((failures + 1))
  else
    echo "ok: $name"
  fi
}

# Each fault alone in the clean tree, found both in a walk of src and given its
# file alone.
include_faults=(
  "records/Planted.cpp|#include <ui/screens/services/ServicesController.h>|a layer above it"
  "platform/Planted.cpp|#include \"../app/AppEnvironment.h\"|a layer above it"
  "records/Planted.h|#include \"app/AppEnvironment.h\"|a layer above it"
  "ui/launch/Planted.cpp|  #  include \"../screens/profiles/ProfilesController.h\"|a layer above it"
  "ui/screens/profiles/Planted.cpp|#include \"../services/ServicesController.h\"|from another screen"
  "ui/screens/profiles/Planted.cpp|#include <ui/screens/services/ServicesController.h>|from another screen"
)
clean_includes='#include "Base.h"
#include "platform/Base.h"
#include "../records/Store.h"
#include <ui/launch/Flow.h>
#include <QWidget>
#include "Planted.moc"'

expect "include check, clean tree" PASS "layer order kept" bash scripts/check-includes.sh
for fault in "${include_faults[@]}"; do
  IFS='|' read -r file line message <<<"$fault"
  printf '%s\n' "$line" >"src/$file"
  expect "include check, $line in $file" FAIL "$message" bash scripts/check-includes.sh
  expect "include check on $file alone, $line" FAIL "$message" bash scripts/check-includes.sh "src/$file"
  rm "src/$file"
done
# A file outside every layer's folder fails as a source, and an include of it
# fails even from a file the check is given alone.
for loose in ui/screens/Loose.h extra/Helper.h; do
  mkdir -p "src/$(dirname "$loose")"
  echo '#pragma once' >"src/$loose"
  expect "include check, $loose in the tree" FAIL "lies in no layer's folder" bash scripts/check-includes.sh
  expect "include check on $loose alone" FAIL "lies in no layer's folder" bash scripts/check-includes.sh "src/$loose"
  printf '#include "%s"\n' "$loose" >src/records/Planted.cpp
  expect "include check, records/Planted.cpp includes $loose" FAIL "which lies in no layer's folder" \
    bash scripts/check-includes.sh src/records/Planted.cpp
  rm "src/$loose" src/records/Planted.cpp
done
rmdir src/extra
printf '%s\n' "$clean_includes" >src/app/Clean.cpp
expect "include check on a clean file alone" PASS "layer order kept in 1 file" \
  bash scripts/check-includes.sh src/app/Clean.cpp
rm src/app/Clean.cpp
expect "include check, a wrong path" FAIL "no such file" bash scripts/check-includes.sh src/platfrom
expect "include check, a path outside src" FAIL "not under src/" bash scripts/check-includes.sh scripts

# Lint refuses what it cannot lint before it looks for a build or clang-tidy.
expect "lint, a wrong path" FAIL "no such file or folder" bash scripts/lint.sh src/platform/Bsae.cpp
expect "lint, a header path" FAIL "not a .cpp source" bash scripts/lint.sh src/platform/Base.h
expect "lint, a folder without sources" FAIL "holds no .cpp source" bash scripts/lint.sh src/app
expect "lint --ci, a wrong path" FAIL "no such file or folder" bash scripts/lint.sh --ci src/nowhere
scratch_git() { git -c user.name=check -c user.email=check@localhost -c commit.gpgsign=false -c tag.gpgsign=false "$@"; }
scratch_git init --quiet .
scratch_git add src
scratch_git commit --quiet -m sources
scratch_git tag -a v0.0.1 -m v0.0.1
expect "lint --ci, nothing changed since the tag" PASS "no source changed since v0.0.1" bash scripts/lint.sh --ci

# The folders a killed test run left go, those of a run still going on (this
# shell's) stay; as root, whoever owns them. A test program started by another
# names both: its own id decides.
leftovers="$scratch/tmp"
ended=$(sh -c 'echo $$')
gone=() kept=("$leftovers/velmora-test-Ab3dE9" "$leftovers/other-$ended-Ab3dE9")
for prefix in velmora-session velmora-test tests_acceptance; do
  gone+=("$leftovers/$prefix-$ended-Ab3dE9")
  kept+=("$leftovers/$prefix-$$-Ab3dE9")
done
gone+=("$leftovers/velmora-test-$ended-of-$$-Ab3dE9")
kept+=("$leftovers/velmora-test-$$-of-$ended-Ab3dE9")
mkdir -p "${kept[@]}" "${gone[@]/%//inside}"
[ "$(id -u)" -ne 0 ] || chown -R 65534:65534 "${gone[0]}" "${kept[2]}"
bash scripts/remove-ended-test-folders.sh "$leftovers"
wrong=$(for folder in "${gone[@]}"; do [ ! -e "$folder" ] || echo " ${folder##*/} stayed"; done
  for folder in "${kept[@]}"; do [ -d "$folder" ] || echo " ${folder##*/} went"; done)
if [ -n "$wrong" ]; then
  echo "FAILED: leftover test folders:$wrong"
  failures=$((failures + 1))
else
  echo "ok: leftover test folders"
fi

# A build folder configured for the checkout's old place, which CMake refuses,
# is configured afresh, saying so; one configured here, or never, is left as
# it is.
checkout="$scratch/checkout"
mkdir -p "$checkout/scripts"
cp scripts/fresh-if-moved.sh "$checkout/scripts/"
printf 'cmake_minimum_required(VERSION 3.25)\nproject(Moved NONE)\n' >"$checkout/CMakeLists.txt"
never=$(bash "$checkout/scripts/fresh-if-moved.sh" build 2>&1)
cmake -S "$checkout" -B "$checkout/build" -G Ninja >/dev/null
here=$(bash "$checkout/scripts/fresh-if-moved.sh" build 2>&1)
mv "$checkout" "$scratch/moved"
moved=$(cd "$scratch/moved" && bash scripts/fresh-if-moved.sh build 2>"$scratch/said")
if [ -n "$never$here" ] || [ "$moved" != --fresh ] || ! grep -qF "configured for $checkout/build" "$scratch/said" \
  || ! (cd "$scratch/moved" && cmake $moved -S . -B build -G Ninja >/dev/null); then
  echo "FAILED: a moved build folder: never configured \"$never\", configured here \"$here\", moved" \
    "\"$moved\" saying \"$(cat "$scratch/said")\""
  failures=$((failures + 1))
else
  echo "ok: a moved build folder"
fi

if [ "$failures" -ne 0 ]; then
  echo "check tests: $failures failed"
  exit 1
fi
echo "check tests: every planted fault caught"
