#!/usr/bin/env bash
# End to end: vyrpack packages a driver image, vyrfft loads it into a fresh
# default machine kept in a directory and drives it by name.
set -u
vyrfft=$1
vyrpack=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
. "$(dirname "$0")/demo-checks.sh"

head -c 65536 /dev/zero | tr '\0' '\377' >"$work/bios.fd"
printf '[Others]\r\nSMIErrorRetry=5\r\n' >"$work/platform.ini"
"$vyrpack" stub --out "$work/stub.efi" || exit 1
"$vyrpack" payload --image "$work/stub.efi" --out "$work/VyrFFT.efi" --bios "$work/bios.fd" --ini "$work/platform.ini" || exit 1

"$vyrfft" --machine "$work/m" --driver "$work/VyrFFT.efi" --no-terminal --report "$work/report.json" -- -dbg \
  >"$work/out.txt" 2>"$work/err.txt"
rc=$?
log="$work/m/fs0/VyrFFT-Secure.Log"
check "a run without an FD file fails (exit 1)" test "$rc" -eq 1
check "all seven entries resolved by name" has "all seven entries resolved" "$work/err.txt"
check "machine directory created with the default profile" test -f "$work/m/profile.json"
check "payload found at driver entry (status 0)" has "\"driverEntryStatus\": 0" "$work/report.json"
check "F-segment scan falls back to 0xEF" has " Using default value 0xEF for SMI main function number." "$log"
check "FACP found with port 0xB2" has " SMI command port = 0x00B2" "$log"
check "start-up asks the BIOS for the platform status" has "===== Platform Status =====" "$log"
check "the flash part is known" has "===== Flash Part Information =====" "$log"
check "the missing FD file is named" has "the FD file not found. ()" "$work/out.txt"
check "shell flow ends with its failure reason" has "<=== ShellFlashMain (BIOS update failed)" "$log"
check "EndProgram ran" has "===> EndProgram" "$log"
check "report written" has '"mainResult": false' "$work/report.json"

for query in -pq -priv -pw -pr; do
  "$vyrfft" --machine "$work/m" --driver "$work/VyrFFT.efi" --no-terminal -- "$query" >"$work/q.txt" 2>"$work/qerr.txt"
  check "query $query prints its listing and succeeds" has "Start Addr |  End Addr" "$work/q.txt"
  check "query $query: ShellFlashMain returns TRUE" has "ShellFlashMain returned TRUE" "$work/qerr.txt"
done
"$vyrfft" --machine "$work/m" --driver "$work/VyrFFT.efi" --no-terminal -- saved.rom -g >"$work/g.txt" 2>&1
check "-g saves a file equal to the emulated flash" cmp -s "$work/m/fs0/saved.rom" "$work/m/flash.bin"
check "-g reports completion" has "Read Progress: Completed" "$work/g.txt"
"$vyrfft" --machine "$work/m" --driver "$work/VyrFFT.efi" --no-terminal -- -h >"$work/h.txt" 2>&1
check "-h shows the banner with build and the usage" has "Version 1.4b-Beta5.00" "$work/h.txt"

# A whole update: the machine's BIOS V1.00 becomes V1.01.
"$vyrpack" fd --out "$work/m/flash.bin" --model VyrPC --version V1.00 >/dev/null
"$vyrpack" fd --image "$work/m/flash.bin" --out "$work/m/fs0/new.fd" --model VyrPC --version V1.01 \
  --change 0x300000:0x10000 >/dev/null
printf '[ForceFlash]\r\nType#0A=1\r\n' >"$work/m/fs0/platform.ini"
"$vyrfft" --machine "$work/m" --driver "$work/VyrFFT.efi" --no-terminal -- new.fd >"$work/u.txt" 2>&1
check "the update succeeds" has "ShellFlashMain returned TRUE" "$work/u.txt"
check "the update shows its completion" has "Update Progress: Completed" "$work/u.txt"
check "the platform would reboot" has "the platform would now reboot" "$work/u.txt"
# The changed block and the BVDT block, each a 64 KiB erase of 150 ms on the modeled part.
check "the summary shows the modeled time with two block erases" has "erase 0.300 s, program " "$work/u.txt"
"$vyrfft" --machine "$work/m" --identity >"$work/id.txt" 2>&1
check "the machine now reports V1.01" has "version V1.01" "$work/id.txt"
rm -f "$work/m/fs0/platform.ini"

"$vyrfft" --machine "$work/m" --driver "$work/stub.efi" --no-terminal >"$work/out2.txt" 2>"$work/err2.txt"
rc=$?
check "a driver image without payload fails its entry (exit 4)" test "$rc" -eq 4
check "the entry prints its message" has "Driver Initial Module Variable failed" "$work/out2.txt"

"$vyrfft" --help >"$work/help.txt"
check "--help documents the launcher's options" has "--machine DIR" "$work/help.txt"
"$vyrfft" --bogus >/dev/null 2>&1
rc=$?
check "unknown vyrfft option is a usage error (exit 2)" test "$rc" -eq 2

"$vyrfft" --machine "$work/m" --driver "$work/VyrFFT.efi" --no-terminal --show-usage >"$work/usage.txt" 2>/dev/null
check "developer command shows the usage text" has "-pw               Query whole MAP in current ROM." "$work/usage.txt"
printf '[Log_file]\r\nLevel=9\r\n[SecureUpdate]\r\nDeviceOrder=USB\r\n' >"$work/dump.ini"
"$vyrfft" --machine "$work/m" --driver "$work/VyrFFT.efi" --no-terminal --dump-settings "$work/dump.ini" >"$work/dump.txt" 2>/dev/null
check "developer command dumps the settings of a platform.ini" has "Level=4" "$work/dump.txt"
check "the dump shows the parsed device order" has "DeviceOrder=5, 2, 3, 4, 5" "$work/dump.txt"

# A signing machine: a capsule the BIOS accepted waits for the reset, which
# the next opening of the machine is; a tampered one is refused there too.
keys="$(cd "$(dirname "$0")" && pwd)/keys"
profiles="$(cd "$(dirname "$0")/../Emulator/Profiles" && pwd)"
"$vyrfft" --machine "$work/s" --profile "$profiles/signing-secure.json" --identity >/dev/null 2>&1
"$vyrpack" fd --out "$work/s.fd" --model VyrPC --version V1.02 --profile "$work/s/profile.json" >/dev/null
"$vyrpack" capsule --key "$keys/test-signing.pem" --bios "$work/s.fd" --out "$work/s.cap" >/dev/null
cp "$work/s.cap" "$work/s/capsule-pending.bin"
"$vyrfft" --machine "$work/s" --identity >"$work/s.txt" 2>&1
check "the reset writes the waiting capsule" has "reset: capsule applied (128 blocks)" "$work/s.txt"
check "the signing machine now reports V1.02" has "version V1.02" "$work/s.txt"
check "the capsule is applied once" test ! -e "$work/s/capsule-pending.bin"
"$vyrpack" capsule --key "$keys/other-signing.pem" --bios "$work/s.fd" --out "$work/s/capsule-pending.bin" >/dev/null
"$vyrfft" --machine "$work/s" --identity >"$work/s2.txt" 2>&1
check "a wrongly signed capsule is not written" has "reset: capsule failed (0 blocks)" "$work/s2.txt"
check "the signing machine keeps V1.02" has "version V1.02" "$work/s2.txt"

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
