#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing.
#   install-deps.sh          the host build and its tests
#   install-deps.sh --uefi   also QEMU, OVMF (X64 and IA32) and mtools for the UEFI boot tests
set -euo pipefail
packages=(cmake ninja-build g++ clang-14 lld-14 libclang-rt-14-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev libssl-dev python3)
uefi_packages=()
if [ "${1:-}" = "--uefi" ]; then
  uefi_packages=(qemu-system-x86 ovmf ovmf-ia32 mtools)
fi
missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_uefi < <(missing_of "${uefi_packages[@]}")
if ((${#missing[@]} + ${#missing_uefi[@]})); then
  echo "Installing: ${missing[*]} ${missing_uefi[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  if ((${#missing[@]})); then
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
  fi
  if ((${#missing_uefi[@]})); then
    # QEMU runs headless here: its recommended GUI and audio packages are not needed.
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing_uefi[@]}"
  fi
fi
