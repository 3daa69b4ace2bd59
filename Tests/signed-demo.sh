#!/usr/bin/env bash
# The signed update of docs/update.md, command for command: a capsule signed
# with the test key goes to the shipped secure-platform machine, which writes
# it at the reboot; a wrongly signed one is refused and changes nothing.
#
#   Tests/signed-demo.sh VYRFFT VYRPACK WORKDIR
set -u
vyrfft=$(realpath "$1")
vyrpack=$(realpath "$2")
top=$(cd "$(dirname "$0")/.." && pwd)
work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
. "$top/Tests/demo-checks.sh"

# ---- as docs/update.md shows it ----
quiet "$vyrfft" --machine pc --profile "$top/Emulator/Profiles/signing-secure.json" --identity
quiet "$vyrpack" fd --profile "$top/Emulator/Profiles/signing-secure.json" --out new.fd --model VyrPC --version V1.01
printf '\r\n[SecureUpdate]\r\nviaESP=0\r\n' >capsule.ini
quiet "$vyrpack" capsule --key "$top/Tests/keys/test-signing.pem" --bios new.fd --ini capsule.ini --out new.cap
mkdir -p pc/fs0
printf '[Others]\r\n' >driver.ini
quiet "$vyrpack" payload --image stub --out pc/fs0/VyrFFT.efi --bios new.fd --ini driver.ini
cp new.cap pc/fs0/
"$vyrfft" --machine pc --driver pc/fs0/VyrFFT.efi --no-terminal -- new.cap >run.txt 2>&1
check "the signed capsule is handed over" test $? -eq 0
"$vyrfft" --machine pc --identity >identity.txt 2>&1

quiet "$vyrpack" fd --profile "$top/Emulator/Profiles/signing-secure.json" --out newer.fd --model VyrPC --version V1.02
quiet "$vyrpack" capsule --key "$top/Tests/keys/other-signing.pem" --bios newer.fd --ini capsule.ini --out pc/fs0/wrong.cap
"$vyrfft" --machine pc --driver pc/fs0/VyrFFT.efi --no-terminal -- wrong.cap >wrong.txt 2>&1
check "the wrongly signed capsule fails the run" test $? -eq 1

# ---- what the reader should see ----
check "the reboot wrote the capsule" has "vyrfft: reset: capsule applied" run.txt
check "the machine now reports the new BIOS" has "version V1.01" identity.txt
check "the flash is the capsule's BIOS" cmp -s pc/flash.bin new.fd
check "the refusal is shown" has "onboard BIOS does not support Secure Flash." wrong.txt
check "the refused capsule changed nothing" cmp -s pc/flash.bin new.fd
echo "signed demo: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
