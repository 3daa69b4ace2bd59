#!/usr/bin/env bash
# The main job: a BIOS update of the default emulated machine, shown as an
# operator sees it. The machine starts with BIOS V1.00 in its flash; a newer
# image V1.01 (a few blocks changed, a new BVDT) is built with vyrpack fd and
# written by the utility through the emulated BIOS; then the machine is asked
# which BIOS it now reports.
#
# Arguments after the script go to the utility instead of the image name
# (for example -h, or new.fd -u to be asked before the flash).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset host-release >/dev/null
cmake --build --preset host-release >/dev/null
bin=build/host-release
work=build/main-job
machine="$work/machine"
rm -rf "$machine"
mkdir -p "$machine/fs0"

# The BIOS the machine runs now: V1.00, its BVDT where the default machine's
# BIOS reads it; the new BIOS: three blocks changed and version V1.01.
"$bin/vyrpack" fd --out "$machine/flash.bin" --model VyrPC --version V1.00 \
  --build-date 2026-10-01 --build-time 09:00:00 --release-date 2026-10-02
"$bin/vyrpack" fd --image "$machine/flash.bin" --out "$machine/fs0/new.fd" --model VyrPC --version V1.01 \
  --change 0x300000:0x10000,0x310000:0x10000,0x500000:0x10000 \
  --build-date 2026-12-01 --build-time 14:30:00 --release-date 2026-12-02
cp Tools/vyrfft/examples/platform.ini "$machine/fs0/platform.ini"

# The driver image with its payload (the firmware flow's records).
"$bin/vyrpack" stub --out "$work/VyrFFT-stub.efi"
"$bin/vyrpack" payload --image "$work/VyrFFT-stub.efi" --out "$machine/fs0/VyrFFT.efi" \
  --bios "$machine/fs0/new.fd" --ini Tools/vyrfft/examples/platform.ini >/dev/null

echo "== Before the update =="
"$bin/vyrfft" --machine "$machine" --identity
echo
echo "== VyrFFT.efi new.fd -dbg =="
args=("$@")
[ ${#args[@]} -eq 0 ] && args=(new.fd -dbg)
rc=0
"$bin/vyrfft" --machine "$machine" --report "$work/report.json" -- "${args[@]}" || rc=$?
echo
echo "== After the update =="
"$bin/vyrfft" --machine "$machine" --identity
echo
echo "Trace log: $machine/fs0/VyrFFT-Secure.Log; report: $work/report.json"
exit "$rc"
