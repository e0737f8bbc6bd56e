#!/usr/bin/env bash
# Builds everything and runs the project's main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
build/linux-x86/tonevolt demo
