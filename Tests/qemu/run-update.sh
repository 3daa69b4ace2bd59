#!/usr/bin/env bash
# Runs a whole update inside QEMU + OVMF against the emulated BIOS driver and
# checks it against the same run on the host's emulated PC.
#
#   run-update.sh ARCH UEFI_BUILD_DIR HOST_BIN_DIR WORKDIR SCENARIO
#
# ARCH is ia32 or x64; UEFI_BUILD_DIR holds VyrFFT-emu.efi, EmuBios.efi,
# VyrEmuBoot.efi and VyrFFTLauncher.efi (scripts/build-uefi.sh); HOST_BIN_DIR
# holds vyrpack and vyrfft. The machine is the main job's: the default machine
# with BIOS V1.00 in its flash, new.fd (V1.01) and the example platform.ini.
# Its flash and the set-up of its emulated BIOS (vyrfft --export-bios) go on a
# FAT disk with the driver's test image, packaged with new.fd and platform.ini.
# After the boot the flash, the log and any saved file are copied out of the
# disk and compared with what the host run left.
#
# SCENARIO: update    the launcher with "new.fd -dbg" (ShellFlashMain)
#           firmware  the launcher with "--firmware -dbg": UefiFlashMain from the payload
#           save      the launcher with "saved.rom -g -dbg": the flash saved to a file
#           shell     as update, but typed in the firmware's UEFI shell: load the BIOS
#                     driver, fs0:, then the launcher
#           package   the launcher as a shell package (vyrpack package) carrying
#                     other.fd and new.fd, its platform.ini selecting new.fd by model
#                     name, run with "-dbg"
#           extract   the same package with "-extrFD -dbg": both images written to
#                     VyrFFTLauncher_FD on the disk, nothing flashed
#           capsule   a secure platform (Emulator/Profiles/signing-secure.json): new.fd
#                     as a secure capsule signed with the test key, "new.cap -dbg"; the
#                     BIOS checks it and writes it at the reboot request
#           pfat      a PFAT platform (Emulator/Profiles/signing-pfat.json): new.fd as
#                     a PFAT image signed with the test key, "new.pfat -dbg"; each
#                     signed packet goes to the BIOS through 41h/42h
set -u
# shellcheck source=checks.sh
source "$(dirname "$0")/checks.sh"
arch=${1:-}
build=${2:-}
bin=${3:-}
work=${4:-}
scenario=${5:-}
case $scenario in
  update | firmware | save | shell | package | extract | capsule | pfat) ;;
  *)
    echo "usage: $0 ia32|x64 UEFI_BUILD_DIR HOST_BIN_DIR WORKDIR update|firmware|save|shell|package|extract|capsule|pfat" >&2
    exit 2
    ;;
esac
BOOT_SECONDS=${VYR_QEMU_TIMEOUT:-240}
case $arch in
  ia32)
    qemu=(qemu-system-i386 -machine q35,smm=on -global driver=cfi.pflash01,property=secure,value=on)
    code=/usr/share/OVMF/OVMF32_CODE_4M.secboot.fd
    vars=/usr/share/OVMF/OVMF32_VARS_4M.fd
    bootfile=BOOTIA32.EFI
    label=IA32
    ;;
  x64)
    qemu=(qemu-system-x86_64 -machine q35)
    code=/usr/share/OVMF/OVMF_CODE_4M.fd
    vars=/usr/share/OVMF/OVMF_VARS_4M.fd
    bootfile=BOOTX64.EFI
    label=X64
    ;;
  *)
    echo "run-update: unknown architecture '$arch' (ia32 or x64)" >&2
    exit 2
    ;;
esac
label="$label $scenario"
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$build" && pwd)
bin=$(cd "$bin" && pwd)
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

# ---- The machine, as the main job builds it ----------------------------------------------
mkdir -p machine/fs0
case $scenario in
  capsule | pfat)
    "$bin/vyrfft" --machine machine --profile "$root/Emulator/Profiles/signing-$([ "$scenario" = pfat ] && echo pfat || echo secure).json" \
      --identity >/dev/null || exit 1
    ;;
esac
"$bin/vyrpack" fd --out machine/flash.bin --model VyrPC --version V1.00 \
  --build-date 2026-10-01 --build-time 09:00:00 --release-date 2026-10-02 >/dev/null
"$bin/vyrpack" fd --image machine/flash.bin --out machine/fs0/new.fd --model VyrPC --version V1.01 \
  --change 0x300000:0x10000,0x310000:0x10000,0x500000:0x10000 \
  --build-date 2026-12-01 --build-time 14:30:00 --release-date 2026-12-02 >/dev/null
cp "$root/Tools/vyrfft/examples/platform.ini" machine/fs0/platform.ini
"$bin/vyrpack" stub --out stub.efi >/dev/null
"$bin/vyrpack" payload --image stub.efi --out machine/fs0/VyrFFT.efi \
  --bios machine/fs0/new.fd --ini machine/fs0/platform.ini >/dev/null
"$bin/vyrpack" payload --image "$build/VyrFFT-emu.efi" --out VyrFFT.efi \
  --bios machine/fs0/new.fd --ini machine/fs0/platform.ini >/dev/null || {
  echo "run-update: packaging the driver's test image failed"
  exit 1
}
# The launcher the shell starts: itself, or itself as a package of two images.
launcher=$build/VyrFFTLauncher.efi
if [ "$scenario" = package ] || [ "$scenario" = extract ]; then
  "$bin/vyrpack" fd --image machine/flash.bin --out other.fd --model OtherPC --version V1.02 \
    --change 0x300000:0x10000 >/dev/null
  { cat machine/fs0/platform.ini; printf '\r\n[MULTI_FD]\r\nFlag=1\r\nFD#01=ID,OtherPC,other.fd\r\nFD#02=ID,VyrPC,new.fd\r\n'; } >package.ini
  "$bin/vyrpack" package --image "$launcher" --out VyrFFTLauncher.efi --fd other.fd --fd machine/fs0/new.fd \
    --ini package.ini --filter "/dbg /extrFD" >/dev/null || {
    echo "run-update: building the shell package failed"
    exit 1
  }
  launcher=$PWD/VyrFFTLauncher.efi
fi
if [ "$scenario" = capsule ]; then
  { cat machine/fs0/platform.ini; printf '\r\n[SecureUpdate]\r\nviaESP=0\r\n'; } >capsule.ini
  "$bin/vyrpack" capsule --key "$root/Tests/keys/test-signing.pem" --bios machine/fs0/new.fd --ini capsule.ini \
    --out machine/fs0/new.cap >/dev/null || {
    echo "run-update: building the secure capsule failed"
    exit 1
  }
fi
if [ "$scenario" = pfat ]; then
  "$bin/vyrpack" pfat --key "$root/Tests/keys/test-signing.pem" --fd machine/fs0/new.fd --out machine/fs0/new.pfat \
    >/dev/null || {
    echo "run-update: building the PFAT image failed"
    exit 1
  }
fi
"$bin/vyrfft" --machine machine --export-bios bios.setup || exit 1
cp machine/flash.bin flash-before.bin

case $scenario in
  update | shell) words=(new.fd -dbg) ;;
  firmware) words=(--firmware -dbg) ;;
  save) words=(saved.rom -g -dbg) ;;
  package) words=(-dbg) ;;
  extract) words=(-extrFD -dbg) ;;
  capsule) words=(new.cap -dbg) ;;
  pfat) words=(new.pfat -dbg) ;;
esac

# ---- The same run on the host's emulated PC --------------------------------------------------
cp -r machine host
# Argument 0 names the launcher, which the utility opens (a shell package would be appended to it).
cp "$launcher" host/fs0/VyrFFTLauncher.efi
host_words=("${words[@]}")
host_options=()
if [ "${words[0]}" = --firmware ]; then
  host_options=(--firmware)
  host_words=("${words[@]:1}")
fi
"$bin/vyrfft" --machine host --driver host/fs0/VyrFFT.efi --no-terminal --program VyrFFTLauncher.efi \
  "${host_options[@]}" -- "${host_words[@]}" \
  >host-console.txt 2>&1
host_rc=$?

# ---- The disk ------------------------------------------------------------------------------
truncate -s 64M disk.img
mformat -i disk.img -t 64 -h 64 -s 32 -v VYRFFT :: &&
  mmd -i disk.img ::/EmuBios &&
  mcopy -i disk.img "$build/EmuBios.efi" ::/EmuBios/EmuBios.efi &&
  mcopy -i disk.img bios.setup flash-before.bin ::/EmuBios/ &&
  mren -i disk.img ::/EmuBios/flash-before.bin ::/EmuBios/flash.bin &&
  mcopy -i disk.img "$launcher" VyrFFT.efi machine/fs0/new.fd machine/fs0/platform.ini :: &&
  { [ "$scenario" != capsule ] || mcopy -i disk.img machine/fs0/new.cap ::; } &&
  { [ "$scenario" != pfat ] || mcopy -i disk.img machine/fs0/new.pfat ::; } || {
  echo "run-update: building the FAT disk failed"
  exit 1
}
typed=()
if [ "$scenario" = shell ]; then
  # No boot file: the firmware's boot manager ends in its UEFI shell.
  typed=(--after "Shell> " --type 'load fs0:\EmuBios\EmuBios.efi'
    --after "VyrEmuBios: answering" --type "fs0:"
    --after 'FS0:\> ' --type "VyrFFTLauncher.efi ${words[*]}")
else
  printf 'VyrFFTLauncher.efi %s\r\n' "${words[*]}" >launch.txt
  mmd -i disk.img ::/EFI ::/EFI/BOOT &&
    mcopy -i disk.img "$build/VyrEmuBoot.efi" "::/EFI/BOOT/$bootfile" &&
    mcopy -i disk.img launch.txt ::/EmuBios/launch.txt || exit 1
fi
cp "$vars" vars.fd

# ---- Boot ------------------------------------------------------------------------------------
started=$(date +%s)
timeout "$BOOT_SECONDS" "$root/Tests/qemu/serial-typist.py" serial.raw "${typed[@]}" -- \
  "${qemu[@]}" -m 256 \
  -drive if=pflash,format=raw,unit=0,readonly=on,file="$code" \
  -drive if=pflash,format=raw,unit=1,file=vars.fd \
  -drive format=raw,file=disk.img \
  -display none -serial stdio -net none -no-reboot 2>qemu.err
rc=$?
elapsed=$(($(date +%s) - started))
console_text serial.raw >serial.txt
mcopy -n -i disk.img ::/EmuBios/flash.bin flash-after.bin 2>/dev/null || : >flash-after.bin
mcopy -n -i disk.img ::/VyrFFT-Secure.Log log.txt 2>/dev/null || : >log.txt
tr -d '\r' <log.txt >log-lf.txt
tr -d '\r' <host/fs0/VyrFFT-Secure.Log >host-log-lf.txt 2>/dev/null || : >host-log-lf.txt
[ "$scenario" = save ] && { mcopy -n -i disk.img ::/saved.rom saved.rom 2>/dev/null || : >saved.rom; }
if [ "$scenario" = extract ]; then
  for name in other.fd new.fd; do
    mcopy -n -i disk.img "::/VyrFFTLauncher_FD/$name" "extracted-$name" 2>/dev/null || : >"extracted-$name"
  done
fi

# ---- Checks ----------------------------------------------------------------------------------
same() { cmp -s "$1" "$2"; }
differ() { ! cmp -s "$1" "$2"; }
# The log lines both runs write alike. Left out are the platform's own: addresses,
# the F-segment and ACPI scan with its table dumps, times, and the secure-boot
# query, which OVMF's variables answer "Support" (so NV storage is also reserved
# through 1Eh) where the default machine has no such variables.
comparable() {
  grep -vE '0x[0-9A-F]{8}|address|F-segment|FACP|RSDP|XSDT|RSDT|Time|time|Date|[0-9]+ ms|^[0-9A-F]{4}: ' "$1" |
    grep -vE 'IsSecureBootSupport|SetTypeReserve_1Eh'
}

check "the host run of the same update succeeded (exit $host_rc)" test "$host_rc" -eq 0
check "QEMU ended by itself in ${elapsed}s, not by the ${BOOT_SECONDS}s timeout" test "$rc" -eq 0
check "the emulated BIOS driver answers FWSMI EFh on the FACP's port" \
  has "VyrEmuBios: answering FWSMI EFh on port 0x00B2" serial.txt
check "the launcher started the driver" has "VyrFFT launcher: driver entry returned Success" serial.txt
if [ "$scenario" = shell ]; then
  check "the shell loaded the BIOS driver" has "Image 'fs0:\\EmuBios\\EmuBios.efi' loaded" serial.txt
  check "the launcher took the typed command line" has "VyrFFT launcher: 2 argument(s) from the load options" serial.txt
fi
# The console lines the operator reads (progress bars aside) as the host run showed them.
console_lines() {
  grep -av '%' "$1" | sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' |
    grep -av '^$\|^VyrFFT launcher\|^VyrEmu\|^vyrfft\|^BdsDxe\|^==' | sort -u
}
console_lines serial.txt >console-lines.txt
console_lines host-console.txt >host-console-lines.txt
check "the console shows every line the host run showed" test -z "$(comm -13 console-lines.txt host-console-lines.txt)"
case $scenario in
  save) check "the console shows the save" has "Read Current ROM Start" serial.txt ;;
  capsule) check "the console says the capsule was handed over" has "Update Progress: Completed" serial.txt ;;
  pfat) check "the console says the PFAT update is done" has "Update PFAT completed." serial.txt ;;
  extract) check "the console names both extracted images" has "extracts to... VyrFFTLauncher_FD\\new.fd" serial.txt ;;
  *) check "the console says the update is done" has "Update BIOS completed." serial.txt ;;
esac
[ "$scenario" = capsule ] &&
  check "the BIOS took the capsule, not the block writer" has "no flash block was written (15h)" host-console.txt
[ "$scenario" = package ] &&
  check "the package's multi-FD selection named new.fd" has "MultiFD match filename [new.fd]" log-lf.txt
entry=ShellFlashMain
[ "$scenario" = firmware ] && entry=UefiFlashMain
check "$entry returned TRUE" has "VyrFFT launcher: $entry returned TRUE" serial.txt
check "EndProgram returned TRUE (the completion request was accepted)" \
  has "VyrFFT launcher: EndProgram returned TRUE" serial.txt
check "no write-back of the flash failed" test -z "$(grep -F 'VyrEmuBios: writing back' serial.txt)"
case $scenario in
  update | shell | firmware | package | capsule | pfat)
    check "the flash copied out of the disk equals the host run's, byte for byte" same flash-after.bin host/flash.bin
    check "the update changed the flash" differ flash-after.bin flash-before.bin
    ;;
  extract)
    check "new.fd was extracted byte for byte" same extracted-new.fd machine/fs0/new.fd
    check "other.fd was extracted byte for byte" same extracted-other.fd other.fd
    check "the host run extracted the same files" same host/fs0/VyrFFTLauncher_FD/new.fd machine/fs0/new.fd
    check "an extraction leaves the flash as it was" same flash-after.bin flash-before.bin
    ;;
  save)
    check "the saved file equals the flash, byte for byte" same saved.rom flash-before.bin
    check "the host run saved the same file" same saved.rom host/fs0/saved.rom
    check "a save leaves the flash as it was" same flash-after.bin flash-before.bin
    ;;
esac
comparable log-lf.txt >log-compared.txt
comparable host-log-lf.txt >host-log-compared.txt
if [ "$scenario" = firmware ]; then
  # A firmware run keeps no log file, on the host or in the firmware.
  check "no log file, as on the host" test ! -s log-lf.txt -a ! -s host-log-lf.txt
else
  check "the log was written through the firmware's file system" has "<=== ShellFlashMain" log-lf.txt
  check "the log ends as the host run's does" test "$(tail -n 3 log-lf.txt)" = "$(tail -n 3 host-log-lf.txt)"
  check "the log holds the host run's lines, platform lines aside" diff -q log-compared.txt host-log-compared.txt
fi

if [ "$failures" -ne 0 ]; then
  echo "---- [$label] serial console (last 40 lines of $PWD/serial.txt) ----"
  tail -n 40 serial.txt
  echo "---- [$label] log vs host log (first differences) ----"
  diff log-compared.txt host-log-compared.txt | head -n 20
  [ -s qemu.err ] && { echo "---- qemu stderr ----"; cat qemu.err; }
fi
echo "$label: $passes passed, $failures failed (${elapsed}s)"
[ "$failures" -eq 0 ]
