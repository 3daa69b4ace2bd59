#!/usr/bin/env bash
# The main job: a BIOS update of the default emulated machine, shown as an
# operator sees it. The machine starts with BIOS V1.00 in its flash; a newer
# image V1.01 (a few blocks changed, a new BVDT) is built with vyrpack and
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

# The BIOS the machine runs now: V1.00, its BVDT in the OEM data block.
bvdt_at=0x250000
"$bin/vyrpack" bvdt --blank 0x800000 --out "$machine/flash.bin" --model VyrPC --version V1.00 \
  --offset "$bvdt_at" --build-date 2026-10-01 --build-time 09:00:00 --release-date 2026-10-02
# The new BIOS: the same image with three DXE blocks changed and version V1.01.
cp "$machine/flash.bin" "$work/base.fd"
for block in 0x300000 0x310000 0x500000; do
  # (yes ends on SIGPIPE: the pipeline's status is not the job's)
  { yes "VyrFFT demo BIOS V1.01 block $block" || true; } | head -c 65536 |
    dd of="$work/base.fd" bs=65536 seek=$((block / 65536)) conv=notrunc status=none
done
"$bin/vyrpack" bvdt --image "$work/base.fd" --out "$machine/fs0/new.fd" --model VyrPC --version V1.01 \
  --offset "$bvdt_at" --build-date 2026-12-01 --build-time 14:30:00 --release-date 2026-12-02
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
