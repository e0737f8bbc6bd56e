#!/usr/bin/env bash
# Builds everything and runs every test: Linux i386, and Win32 under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
ctest --preset linux-x86
