#!/usr/bin/env bash
# Builds the real UEFI images with clang-14 and lld-link-14:
#   build/uefi-ia32/VyrFFT.efi, build/uefi-ia32/VyrFFTLauncher.efi (and the same under build/uefi-x64)
# usage: scripts/build-uefi.sh [ia32|x64 ...]     (default: both)
set -euo pipefail
cd "$(dirname "$0")/.."
archs=("$@")
((${#archs[@]})) || archs=(ia32 x64)
for arch in "${archs[@]}"; do
  case $arch in
    ia32 | x64) ;;
    *)
      echo "usage: $0 [ia32|x64 ...]" >&2
      exit 2
      ;;
  esac
  dir=build/uefi-$arch
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S cmake/uefi -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/uefi-$arch.cmake" >/dev/null
  fi
  cmake --build "$dir"
done
