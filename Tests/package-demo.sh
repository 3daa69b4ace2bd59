#!/usr/bin/env bash
# The two-model package walk-through of docs/vyrpack.md, command for command:
# one package, two machines of the family whose LPC bridges differ, each
# flashed with its own image, then -extrFD.
#
#   Tests/package-demo.sh VYRFFT VYRPACK WORKDIR
set -u
vyrfft=$(realpath "$1")
vyrpack=$(realpath "$2")
profiles=$(cd "$(dirname "$0")/../Emulator/Profiles" && pwd)
work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
. "$profiles/../../Tests/demo-checks.sh"

# ---- as docs/vyrpack.md shows it ----
quiet "$vyrpack" fd --profile "$profiles/family-model-a.json" --out a.fd --model "Vyr 14 A" --version A.1.01 \
  --change 0x300000:0x10000
quiet "$vyrpack" fd --profile "$profiles/family-model-b.json" --out b.fd --model "Vyr 14 B" --version B.1.01 \
  --change 0x300000:0x10000
printf '[MULTI_FD]\r\nFlag=1\r\nFD#01=PCI,0,1F,0,00,FFFFFFFF,3B0B8086,model_a.fd\r\nFD#02=PCI,0,1F,0,00,FFFFFFFF,3B098086,model_b.fd\r\n[ForceFlash]\r\nType#0A=1\r\n' >platform.ini
quiet "$vyrpack" package --image stub --out PKG.efi --fd a.fd=model_a.fd --fd b.fd=model_b.fd \
  --ini platform.ini --filter '/u /extrFD /dbg'
printf '[Others]\r\n' >driver.ini
quiet "$vyrpack" payload --image stub --out VyrFFT.efi --bios a.fd --ini driver.ini
for m in a b; do
  quiet "$vyrfft" --machine "machine-$m" --profile "$profiles/family-model-$m.json" --identity
  cp PKG.efi VyrFFT.efi "machine-$m/fs0/"
  "$vyrfft" --machine "machine-$m" --driver "machine-$m/fs0/VyrFFT.efi" --program PKG.efi --no-terminal \
    >"run-$m.txt" 2>&1
  check "machine $m: the package update succeeds" test $? -eq 0
  "$vyrfft" --machine "machine-$m" --identity >"identity-$m.txt" 2>&1
done
quiet "$vyrfft" --machine machine-b --driver machine-b/fs0/VyrFFT.efi --program PKG.efi --no-terminal -- -extrFD out

# ---- what the reader should see ----
check "machine A now reports its own new BIOS" has "model Vyr 14 A, version A.1.01" identity-a.txt
check "machine B now reports its own new BIOS" has "model Vyr 14 B, version B.1.01" identity-b.txt
check "machine A got model_a.fd" cmp -s machine-a/flash.bin a.fd
check "machine B got model_b.fd" cmp -s machine-b/flash.bin b.fd
check "-extrFD wrote model_a.fd as packed" cmp -s machine-b/fs0/out/model_a.fd a.fd
check "-extrFD wrote model_b.fd as packed" cmp -s machine-b/fs0/out/model_b.fd b.fd
echo "package demo: $passes passed, $failures failed"
[ "$failures" -eq 0 ]
