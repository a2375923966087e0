#!/usr/bin/env bash
# Fails when a source under src/ includes a header from a layer above its own, or
# when one screen includes another. The order, lowest first (docs/ARCHITECTURE.md):
#   platform, records, profiles, execution, ui/platform, ui/components, ui/launch,
#   the screens (each folder of ui/screens, and ui/menubar), app.
# Arguments replace the folder searched (default: src); paths in #include "…" are
# relative to src/. Prints each offending line and exits 1 when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

roots=("$@")
[ ${#roots[@]} -eq 0 ] && roots=(src)

grep -rnE --include='*.h' --include='*.cpp' '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "${roots[@]}" |
  awk '
    # Prints "rank unit" for a path relative to src/, or nothing for a path
    # outside the layers (a generated .moc file, for one). Every screen has
    # the same rank and a unit of its own.
    function layer(path,    parts) {
      split(path, parts, "/")
      if (parts[1] == "platform") return "0 platform"
      if (parts[1] == "records") return "1 records"
      if (parts[1] == "profiles") return "2 profiles"
      if (parts[1] == "execution") return "3 execution"
      if (parts[1] == "app") return "8 app"
      if (parts[1] != "ui") return ""
      if (parts[2] == "platform") return "4 ui/platform"
      if (parts[2] == "components") return "5 ui/components"
      if (parts[2] == "launch") return "6 ui/launch"
      if (parts[2] == "menubar") return "7 ui/menubar"
      if (parts[2] == "screens" && parts[3] != "") return "7 ui/screens/" parts[3]
      return ""
    }
    {
      file = $0; sub(/:.*/, "", file)
      line = $0; sub(/^[^:]*:/, "", line); number = line; sub(/:.*/, "", number)
      included = line; sub(/^[^"]*"/, "", included); sub(/".*/, "", included)
      own = file; sub(/^.*src\//, "", own)
      from = layer(own); to = layer(included)
      if (from == "" || to == "") next
      split(from, f, " "); split(to, t, " ")
      if (t[1] + 0 > f[1] + 0) {
        printf "%s:%s: %s (%s) includes %s, a layer above it\n", file, number, own, f[2], included
        bad++
      } else if (t[1] == f[1] && t[2] != f[2]) {
        printf "%s:%s: %s (%s) includes %s from another screen\n", file, number, own, f[2], included
        bad++
      }
    }
    END {
      if (bad) { printf "include check: %d include(s) against the layer order\n", bad; exit 1 }
      print "include check: layer order kept"
    }'
