#!/usr/bin/env bash
# check-image.sh IMAGE ARCH OBJECT...
# A UEFI image has no runtime: no global-constructor table (.CRT$XC* in an
# object) may reach it, and it may import nothing. Also checks the machine and
# that an entry point exists. On failure the image is removed, so the build
# cannot leave a bad image behind.
set -u
image=$1
arch=$2
shift 2
fail() {
  echo "check-image: $image: $*" >&2
  rm -f "$image"
  exit 1
}
OBJDUMP=llvm-objdump-14
READOBJ=llvm-readobj-14
for obj in "$@"; do
  if "$OBJDUMP" -h "$obj" | grep -q '\.CRT\$XC'; then
    fail "$obj holds a global initializer (.CRT\$XC section): the image would never run it"
  fi
done
headers=$("$READOBJ" --file-headers --coff-imports "$image") || fail "not a readable PE image"
case $arch in
  IA32) grep -q 'Machine: IMAGE_FILE_MACHINE_I386' <<<"$headers" || fail "machine is not I386" ;;
  X64) grep -q 'Machine: IMAGE_FILE_MACHINE_AMD64' <<<"$headers" || fail "machine is not AMD64" ;;
  *) fail "unknown architecture $arch" ;;
esac
grep -q 'Import {' <<<"$headers" && fail "imports a DLL: the firmware loader resolves no imports"
grep -qE 'AddressOfEntryPoint: 0x0+$' <<<"$headers" && fail "no entry point"
grep -qE 'Subsystem: IMAGE_SUBSYSTEM_EFI_(BOOT_SERVICE_DRIVER|APPLICATION)' <<<"$headers" ||
  fail "not an EFI subsystem"
exit 0
