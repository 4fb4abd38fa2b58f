#!/usr/bin/env bash
# The install tests' fixture: from one build, the package of the build's
# version (signed with a throwaway test CA) and the package of an older
# version (unsigned, so its files differ from the newer ones), through the
# release's own installer/package.sh; and the booted Wine prefix that every
# install scenario copies (made once per build folder, never run in).
#
#   make-packages.sh BUILD_DIR PACKAGE_DIR PREFIX_TEMPLATE
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1 packages=$2 template=$3

source "$build/installer/package.env"
IFS=. read -r major minor patch <<<"$PACKAGE_VERSION"
if [ "$patch" -gt 0 ]; then older="$major.$minor.$((patch - 1))"
elif [ "$minor" -gt 0 ]; then older="$major.$((minor - 1)).0"
else older="$((major - 1)).0.0"; fi

rm -rf "$packages"
mkdir -p "$packages"
"$ROOT/installer/package.sh" --build "$build" --out "$packages/new" 2>"$packages/new.log" ||
  { cat "$packages/new.log" >&2; exit 1; }
echo "$PACKAGE_VERSION" >"$packages/new/version"
"$ROOT/installer/package.sh" --build "$build" --out "$packages/old" --version "$older" --unsigned 2>"$packages/old.log" ||
  { cat "$packages/old.log" >&2; exit 1; }
echo "$older" >"$packages/old/version"
ls -l "$packages"/new/*.msi "$packages"/old/*.msi

"$ROOT/scripts/wine-prefix.sh" "$template"
