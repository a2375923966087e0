#!/usr/bin/env bash
# Installs what is missing, checks format and include order (and that those two
# checks and lint catch planted faults), builds Velmora twice (plain, and with
# AddressSanitizer and UndefinedBehaviorSanitizer), lints the changed sources
# and runs every test in both builds.
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
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" "$@" >/dev/null
  cmake --build "$dir" --parallel "$jobs"
}

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

build build-plain -DVELMORA_SANITIZE=OFF
echo "== clang-tidy on changed sources, or a sample of them"
LINT_JOBS=$jobs bash scripts/lint.sh --ci
build build-sanitize -DVELMORA_SANITIZE=ON -DVELMORA_BENCHMARKS=OFF

echo "== Tests, plain build"
bash scripts/with-test-session.sh ctest --test-dir build-plain --output-on-failure --parallel "$jobs"
echo "== Screenshots, plain build (under Xvfb)"
bash scripts/screenshots.sh --no-build
echo "== Tests, sanitizer build"
bash scripts/with-test-session.sh ctest --test-dir build-sanitize --output-on-failure --parallel "$jobs"
