#!/usr/bin/env bash
# Installs what is missing, checks format and include order (and that those two
# checks and lint catch planted faults), builds Velmora three times (plain, with
# AddressSanitizer and UndefinedBehaviorSanitizer, and the release build that
# scripts/run.sh makes), lints the changed sources and runs every test in the
# first two. Every build treats warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/check-format.sh
bash scripts/check-includes.sh
bash scripts/test-checks.sh
jobs=$(nproc)

# ccache, when installed, makes a rebuild of unchanged files nearly free; it
# keeps its files in the user's cache folder (ccache's own default).
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi

# Line tables are all a failing test's stack trace needs; full debug info
# (variable locations above all) costs much of the compile time of the large
# test files.
build() {
  local dir=$1; shift
  cmake $(bash scripts/fresh-if-moved.sh "$dir") -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    "${launcher[@]}" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DVELMORA_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

build build-plain -DVELMORA_SANITIZE=OFF
echo "== clang-tidy on changed sources, or a sample of them"
LINT_JOBS=$jobs bash scripts/lint.sh --ci
build build-sanitize -DVELMORA_SANITIZE=ON -DVELMORA_BENCHMARKS=OFF
# What run.sh builds, in a folder of its own: some warnings show only at -O3.
echo "== Release build, as scripts/run.sh makes it"
bash scripts/build-release.sh build-release-check "${launcher[@]}" -DVELMORA_WERROR=ON

echo "== Tests, plain build"
bash scripts/with-test-session.sh ctest --test-dir build-plain --output-on-failure --parallel "$jobs"
echo "== Screenshots, plain build (under Xvfb)"
bash scripts/screenshots.sh --no-build
echo "== Tests, sanitizer build"
bash scripts/with-test-session.sh ctest --test-dir build-sanitize --output-on-failure --parallel "$jobs"
