#!/usr/bin/env bash
# Installs a build tree into a fresh prefix and runs the installed program
# from elsewhere, directly and through a symlink on PATH, as README shows.
#   check_install.sh CMAKE BUILD_DIR
set -euo pipefail
cmake=$1 build=$2
prefix=$(mktemp -d /tmp/tonevolt-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
mkdir "$prefix/path"
ln -s "$prefix/bin/tonevolt" "$prefix/path/tonevolt"
cd /
"$prefix/bin/tonevolt" describe | grep -q "Filter Cutoff"
PATH="$prefix/path:$PATH" tonevolt describe | grep -q "Filter Cutoff"
echo "installed program runs from $prefix"
