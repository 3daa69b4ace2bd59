#!/usr/bin/env bash
# The UEFI part of the test command: builds the IA32 and X64 images, proves
# that the image check refuses a global constructor, and boots the packaged
# driver with its launcher in QEMU + OVMF on both architectures
# (Tests/qemu/run-uefi.sh), then runs whole updates, a firmware run, a save,
# a run typed in the UEFI shell, a shell package and its -extrFD, and a signed
# capsule on a secure platform and a PFAT update against the emulated BIOS driver
# (Tests/qemu/run-update.sh). Needs scripts/install-deps.sh --uefi.
#
#   scripts/uefi-test.sh [VYRPACK]      (default build/host-asan/vyrpack; vyrfft beside it)
set -u
cd "$(dirname "$0")/.."
vyrpack=${1:-build/host-asan/vyrpack}
work=build/uefi-test
rm -rf "$work"
mkdir -p "$work"
passes=0
failures=0
result() { # result STATUS DESCRIPTION
  if [ "$1" -eq 0 ]; then
    echo "ok: $2"
    passes=$((passes + 1))
  else
    echo "FAIL: $2"
    failures=$((failures + 1))
  fi
}

# A clean build, as the rest of the test command does.
rm -rf build/uefi-ia32 build/uefi-x64
scripts/build-uefi.sh >"$work/build.log" 2>&1
rc=$?
[ $rc -eq 0 ] || tail -n 40 "$work/build.log"
result $rc "UEFI images build for IA32 and X64 (clang-14, lld-link-14)"
if [ $rc -ne 0 ]; then
  echo "$passes passed, $failures failed"
  exit 1
fi

# The guard against constructors: an object with a dynamic initializer must
# make the image check fail (and remove the image).
printf 'struct Counter { Counter(); int Value; };\nCounter mCounter;\n' >"$work/ctor.cpp"
clang++-14 --target=i686-unknown-windows-msvc -ffreestanding -fno-exceptions -fno-rtti -nostdlib \
  -c "$work/ctor.cpp" -o "$work/ctor.obj" 2>"$work/ctor.log"
cp build/uefi-ia32/VyrFFT.efi "$work/ctor-image.efi"
cmake/uefi/check-image.sh "$work/ctor-image.efi" IA32 "$work/ctor.obj" 2>"$work/ctor-check.log"
rc=$?
[ $rc -ne 0 ] && grep -q 'global initializer' "$work/ctor-check.log" && [ ! -e "$work/ctor-image.efi" ]
result $? "the image check refuses an object with a global constructor"

# Only the test image may hand its SMIs to the emulated BIOS: the production
# image must not even hold the protocol's GUID.
has_guid() { # has_guid IMAGE: the emulated-SMI protocol GUID's bytes are in IMAGE
  python3 -c 'import sys; sys.exit(0 if bytes.fromhex("2e3c0f6ad7513b4f9e2a7c441b85d03f") in open(sys.argv[1], "rb").read() else 1)' "$1"
}
for arch in ia32 x64; do
  ! has_guid "build/uefi-$arch/VyrFFT.efi" && has_guid "build/uefi-$arch/VyrFFT-emu.efi"
  result $? "the production image ($arch) holds no emulated-SMI hook; the test image does"
done

for arch in ia32 x64; do
  Tests/qemu/run-uefi.sh "$arch" "build/uefi-$arch" "$vyrpack" "$work/$arch"
  result $? "QEMU + OVMF run of the production image ($arch): no FWSMI handler, stops at 10h"
done
# Whole runs against the emulated BIOS driver, each checked against the same
# run on the host's emulated PC. A new engine is one more line here.
bin=$(dirname "$vyrpack")
for arch in ia32 x64; do
  for scenario in update firmware save shell package extract capsule pfat; do
    Tests/qemu/run-update.sh "$arch" "build/uefi-$arch" "$bin" "$work/$arch-$scenario" "$scenario"
    result $? "QEMU + OVMF $scenario run against the emulated BIOS ($arch)"
  done
done
# The primary target once more, with a driver image that carries no payload.
Tests/qemu/run-uefi.sh ia32 build/uefi-ia32 "$vyrpack" "$work/ia32-no-payload" no-payload
result $? "QEMU + OVMF run of a driver without payload (ia32): its entry fails, nothing hangs"
echo "uefi: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
