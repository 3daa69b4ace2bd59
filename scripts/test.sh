#!/usr/bin/env bash
# Runs every test from scratch: installs what is missing, builds with
# AddressSanitizer and UndefinedBehaviorSanitizer, and runs the whole suite
# (unit tests, scenarios, the freestanding compile of the utility, the floor
# check of its includes), builds the
# real UEFI images and boots them in QEMU + OVMF (IA32 and X64), then runs
# every fuzz target briefly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --uefi
scripts/floor-check.py
rm -rf build/host-asan
cmake --preset host-asan
cmake --build --preset host-asan
ctest --preset host-asan -j2
scripts/uefi-test.sh build/host-asan/vyrpack
scripts/fuzz.sh 5
