#!/usr/bin/env bash
# Fails when a source under src/ includes a header from a layer above its own,
# when one screen includes another, or when a source, or a file an include
# reaches, lies under src/ outside every layer's folder (a header directly in
# ui/screens, a new top-level folder): such a file would escape the order. The order, lowest first (docs/ARCHITECTURE.md):
#   platform, records, profiles, execution, ui/platform, ui/components, ui/launch,
#   the screens (each folder of ui/screens, and ui/menubar), app.
#
#   scripts/check-includes.sh [PATH…]   the sources under each path (default: src)
#
# Every include is followed to the file the compiler would read: "…" from the
# including file's folder first, then from src/ (every layer has src/ on its
# include path, so <…> reaches any layer too), with "../" resolved. An include
# that reaches no file under src/ (Qt, the standard library, a generated .moc)
# is not a layer's. A path that does not exist, lies outside src/ or holds no
# source fails too, so a misspelt argument cannot pass for a clean tree.
# Prints each offending line and exits 1 when there is any.
set -euo pipefail
cd "$(dirname "$0")/.."

[ $# -eq 0 ] && set -- src

python3 - "$@" <<'EOF'
import os
import re
import sys

src = os.path.realpath("src")
include = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
sources = (".h", ".cpp")


def layer(path):
    """(rank, unit) of a path relative to src/, or None outside the layers.
    Every screen has the same rank and a unit of its own."""
    parts = path.split("/")
    top = {"platform": (0, "platform"), "records": (1, "records"), "profiles": (2, "profiles"),
           "execution": (3, "execution"), "app": (8, "app")}
    if parts[0] in top:
        return top[parts[0]]
    if parts[0] != "ui" or len(parts) < 3:
        return None
    ui = {"platform": 4, "components": 5, "launch": 6, "menubar": 7}
    if parts[1] in ui:
        return (ui[parts[1]], "ui/" + parts[1])
    if parts[1] == "screens" and len(parts) > 3:
        return (7, "ui/screens/" + parts[2])
    return None


def under_src(path):
    return os.path.commonpath([src, path]) == src


def resolve(including, form, written):
    folders = [os.path.dirname(including), src] if form == '"' else [src]
    for folder in folders:
        candidate = os.path.realpath(os.path.join(folder, written))
        if os.path.isfile(candidate):
            return candidate
    return None


errors = []
files = []
for argument in sys.argv[1:]:
    path = os.path.realpath(argument)
    if not os.path.exists(argument):
        errors.append(f"{argument}: no such file or folder")
    elif not under_src(path):
        errors.append(f"{argument}: not under src/")
    elif os.path.isfile(path):
        if path.endswith(sources):
            files.append(path)
        else:
            errors.append(f"{argument}: not a .h or .cpp file")
    else:
        found = [os.path.join(folder, name) for folder, _, names in os.walk(path)
                 for name in names if name.endswith(sources)]
        if not found:
            errors.append(f"{argument}: holds no .h or .cpp file")
        files.extend(sorted(found))

bad = 0
for file in files:
    own = os.path.relpath(file, src)
    source_layer = layer(own)
    shown = os.path.relpath(file)
    if source_layer is None:
        print(f"{shown}: {own} lies in no layer's folder")
        bad += 1
        continue
    with open(file, encoding="utf-8", errors="replace") as text:
        for number, line in enumerate(text, 1):
            match = include.match(line)
            if not match:
                continue
            form, written = match.groups()
            target = resolve(file, form, written)
            if target is None or not under_src(target):
                continue
            included = os.path.relpath(target, src)
            target_layer = layer(included)
            spelt = f"{form}{written}{'>' if form == '<' else form}"
            if target_layer is None:
                print(f"{shown}:{number}: {own} ({source_layer[1]}) includes {spelt} ({included}), which lies in no layer's folder")
                bad += 1
            elif target_layer[0] > source_layer[0]:
                print(f"{shown}:{number}: {own} ({source_layer[1]}) includes {spelt} ({included}), a layer above it")
                bad += 1
            elif target_layer[0] == source_layer[0] and target_layer[1] != source_layer[1]:
                print(f"{shown}:{number}: {own} ({source_layer[1]}) includes {spelt} ({included}) from another screen")
                bad += 1

for error in errors:
    print(f"include check: {error}")
if bad:
    print(f"include check: {bad} include(s) or file(s) against the layer order")
if bad or errors:
    sys.exit(1)
print(f"include check: layer order kept in {len(files)} file(s)")
EOF
