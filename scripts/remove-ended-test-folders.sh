#!/usr/bin/env bash
# Removes what killed test runs left in the temporary folder: the private
# sessions (velmora-session-<pid>-…), the test programs' homes
# (velmora-test-<pid>-…) and the acceptance walk's folders
# (tests_acceptance-<pid>-…), but only once the process the name gives has
# ended: a run going on beside this one keeps its folders. Root removes them
# whatever their owner (a removed throwaway account's, say); anyone else only
# their own.
#
#   scripts/remove-ended-test-folders.sh [FOLDER]   (default: $TMPDIR, or /tmp)
set -euo pipefail

tmp=${1:-${TMPDIR:-/tmp}}
root=false
[ "$(id -u)" -eq 0 ] && root=true
for old in "$tmp"/velmora-session-*-* "$tmp"/velmora-test-*-* "$tmp"/tests_acceptance-*-*; do
  [ -d "$old" ] && [ ! -L "$old" ] || continue
  $root || [ -O "$old" ] || continue
  name=${old##*/}
  case "$name" in
    velmora-session-*) pid=${name#velmora-session-} ;;
    velmora-test-*) pid=${name#velmora-test-} ;;
    *) pid=${name#tests_acceptance-} ;;
  esac
  pid=${pid%%-*}
  case "$pid" in '' | *[!0-9]*) continue ;; esac
  [ -e "/proc/$pid" ] || rm -rf -- "$old"
done
