#!/usr/bin/env bash
# Runs every test from scratch: installs what is missing, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs the whole suite
# (unit tests, scenarios, the freestanding compile of the utility), then
# runs every fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
rm -rf build/host-asan
cmake --preset host-asan
cmake --build --preset host-asan
ctest --preset host-asan -j2
scripts/fuzz.sh 10
