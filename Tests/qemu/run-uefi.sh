#!/usr/bin/env bash
# Boots the real UEFI images in QEMU + OVMF and checks what the run shows.
#
#   run-uefi.sh ARCH UEFI_BUILD_DIR VYRPACK WORKDIR [full|no-payload]
#
# ARCH is ia32 or x64; UEFI_BUILD_DIR holds VyrFFT.efi and VyrFFTLauncher.efi
# (scripts/build-uefi.sh). The driver is packaged with a small BIOS image and
# platform.ini, put with the launcher (as the removable-media boot file) and
# VyrFFT.args ("-dbg") on a FAT disk made with mtools, and booted. The serial
# console is captured, the log file VyrFFT-Secure.Log is copied back out of
# the disk, and both are checked. Enter is typed on the serial line throughout
# (the driver waits for a key after its warning about a misspelt name).
#
# Scenario "no-payload" boots the driver image as built, without records: its
# entry must fail with its message, and the launcher must still shut down.
set -u
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
arch=${1:-}
build=${2:-}
vyrpack=${3:-}
work=${4:-}
scenario=${5:-full}
if [ -z "$work" ] || { [ "$scenario" != full ] && [ "$scenario" != no-payload ]; }; then
  echo "usage: $0 ia32|x64 UEFI_BUILD_DIR VYRPACK WORKDIR [full|no-payload]" >&2
  exit 2
fi
BOOT_SECONDS=${VYR_QEMU_TIMEOUT:-60}

case $arch in
  ia32)
    qemu=qemu-system-i386
    machine=q35,smm=on
    code=/usr/share/OVMF/OVMF32_CODE_4M.secboot.fd
    vars=/usr/share/OVMF/OVMF32_VARS_4M.fd
    bootfile=BOOTIA32.EFI
    label=IA32
    # The SMM build keeps its variable store writable only from SMM.
    extra=(-global driver=cfi.pflash01,property=secure,value=on)
    ;;
  x64)
    qemu=qemu-system-x86_64
    machine=q35
    code=/usr/share/OVMF/OVMF_CODE_4M.fd
    vars=/usr/share/OVMF/OVMF_VARS_4M.fd
    bootfile=BOOTX64.EFI
    label=X64
    extra=()
    ;;
  *)
    echo "run-uefi: unknown architecture '$arch' (ia32 or x64)" >&2
    exit 2
    ;;
esac

for tool in "$qemu" mformat mmd mcopy timeout; do
  command -v "$tool" >/dev/null || {
    echo "run-uefi: $tool missing (scripts/install-deps.sh --uefi installs it)" >&2
    exit 1
  }
done
for f in "$code" "$vars" "$build/VyrFFT.efi" "$build/VyrFFTLauncher.efi" "$vyrpack"; do
  [ -f "$f" ] || {
    echo "run-uefi: $f missing" >&2
    exit 1
  }
done

build=$(cd "$build" && pwd)
vyrpack=$(cd "$(dirname "$vyrpack")" && pwd)/$(basename "$vyrpack")
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
work=$PWD

# ---- Package the driver -----------------------------------------------------------------
head -c 65536 /dev/zero | tr '\0' '\377' >bios.fd
printf '[Others]\r\nSMIErrorRetry=1\r\nSMIErrorRetryDelay=10\r\n' >platform.ini
if [ "$scenario" = no-payload ]; then
  cp "$build/VyrFFT.efi" VyrFFT.efi
else
  "$vyrpack" payload --image "$build/VyrFFT.efi" --out VyrFFT.efi --bios bios.fd --ini platform.ini >pack.txt 2>&1 || {
    cat pack.txt
    echo "run-uefi: packaging failed"
    exit 1
  }
fi
printf -- '-dbg\r\n' >VyrFFT.args

# ---- The FAT disk (no partition table: OVMF reads a whole-disk FAT as one volume) ----------
truncate -s 32M disk.img
mformat -i disk.img -t 32 -h 64 -s 32 -v VYRFFT :: &&
  mmd -i disk.img ::/EFI ::/EFI/BOOT &&
  mcopy -i disk.img "$build/VyrFFTLauncher.efi" "::/EFI/BOOT/$bootfile" &&
  mcopy -i disk.img VyrFFT.efi ::/EFI/BOOT/VyrFFT.efi &&
  mcopy -i disk.img VyrFFT.args ::/EFI/BOOT/VyrFFT.args || {
  echo "run-uefi: building the FAT disk failed"
  exit 1
}
cp "$vars" vars.fd

# ---- Boot -----------------------------------------------------------------------------------
started=$(date +%s)
(while sleep 0.5; do printf '\r' || exit 0; done) 2>/dev/null |
  timeout "$BOOT_SECONDS" "$qemu" -machine "$machine" -m 256 "${extra[@]}" \
    -drive if=pflash,format=raw,unit=0,readonly=on,file="$code" \
    -drive if=pflash,format=raw,unit=1,file=vars.fd \
    -drive format=raw,file=disk.img \
    -display none -serial stdio -net none -no-reboot >serial.raw 2>qemu.err
rc=${PIPESTATUS[1]}
elapsed=$(($(date +%s) - started))
console_text serial.raw >serial.txt
mcopy -n -i disk.img ::/EFI/BOOT/VyrFFT-Secure.Log log.txt 2>/dev/null || : >log.txt
tr -d '\r' <log.txt >log-lf.txt

# ---- Checks ---------------------------------------------------------------------------------

if [ "$scenario" = no-payload ]; then
  label="$label no-payload"
  check "QEMU ended by itself in ${elapsed}s, not by the ${BOOT_SECONDS}s timeout" test "$rc" -eq 0
  check "the driver entry prints its failure" has "Driver Initial Module Variable failed" serial.txt
  check "the entry fails with EFI_UNSUPPORTED" has "VyrFFT launcher: driver entry returned Unsupported" serial.txt
  check "no entry is looked up in a failed driver" lacks "all seven entries" serial.txt
  check "the launcher shut the machine down" has "VyrFFT launcher: shutting down" serial.txt
fi
[ "$scenario" = full ] && {
check "QEMU ended by itself (shut down by the launcher) in ${elapsed}s, not by the ${BOOT_SECONDS}s timeout" test "$rc" -eq 0
check "the launcher started" has "VyrFFT launcher: started ($label)" serial.txt
check "64-bit division (the IA32 runtime helpers) is right on the real processor" \
  has "VyrFFT launcher: 64-bit division checked" serial.txt
check "the launcher read VyrFFT.args" has 'VyrFFT launcher: 1 argument(s) from \EFI\BOOT\VyrFFT.args' serial.txt
check "LoadImage of the packaged driver" has 'VyrFFT launcher: LoadImage \EFI\BOOT\VyrFFT.efi: Success' serial.txt
check "driver entry found its payload (entry returned Success)" has "VyrFFT launcher: driver entry returned Success" serial.txt
check "no payload failure message" lacks "Driver Initial Module Variable failed" serial.txt
check "all seven names resolved" has "VyrFFT launcher: all seven entries resolved by name" serial.txt
check "the misspelt name is warned about" has " Engineering Warning:" serial.txt
check "the warning names it" has " [ShellFlashMian] founction not found." serial.txt
check "the misspelt name answers NULL after the key" has "VyrFFT launcher: misspelt name answered NULL" serial.txt
check "-dbg clears both override variables through the variable services" \
  count_is 2 "<=== ClearOverrideVariable" log-lf.txt
check "no override variable clear failed" lacks "<=== ClearOverrideVariable (" log-lf.txt
check "F-segment scan falls back to 0xEF" has " Using default value 0xEF for SMI main function number." log-lf.txt
check "FACP found through the ACPI tables" has " FACP table address = 0x" log-lf.txt
check "SMI command port from the FACP" has " SMI command port = 0x00B2" log-lf.txt
check "SMI set-up succeeded" has "<=== InitialSmi" log-lf.txt
# OVMF has no FWSMI handler: AL comes back as 0xEF and function 10h fails.
check "function 10h answered as not supported" has " Call FWSMI failed. Error Code: 0xEF, Retry Count: 06" log-lf.txt
check "start-up stops on 10h with its message" has "FWSMI 10h failed." serial.txt
check "the message starts with the Initialize line" has "Error: Initialize" serial.txt
check "Initialize's exit reason" has "<=== Initialize (SMI_IsSupport fail)" log-lf.txt
check "the shell flow fails on Initialize" has "<=== ShellFlashMain (Initialize failed)" log-lf.txt
check "ShellFlashMain returned FALSE" has "VyrFFT launcher: ShellFlashMain returned FALSE" serial.txt
check "EndProgram ran" has "===> EndProgram" log-lf.txt
check "the hook-point SMI came back with AL unchanged (no FWSMI handler)" \
  has " Call FWSMI failed. Error Code: 0xEF, Retry Count: 01" log-lf.txt
check "EndProgram returned to the launcher" has "VyrFFT launcher: EndProgram returned FALSE" serial.txt
check "the driver unloaded cleanly" has "VyrFFT launcher: UnloadImage: Success" serial.txt
check "the launcher shut the machine down" has "VyrFFT launcher: shutting down" serial.txt
}

if [ "$failures" -ne 0 ]; then
  echo "---- [$label] serial console (last 60 lines of $work/serial.txt) ----"
  tail -n 60 serial.txt
  echo "---- [$label] VyrFFT-Secure.Log (last 30 lines) ----"
  tail -n 30 log-lf.txt
  [ -s qemu.err ] && { echo "---- qemu stderr ----"; cat qemu.err; }
fi
echo "$label: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
