#!/usr/bin/env bash
# The main job: packages the driver image and runs it against the default
# emulated machine, showing the console as an operator sees it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset host-release >/dev/null
cmake --build --preset host-release >/dev/null
bin=build/host-release
work=build/main-job
mkdir -p "$work"
# An erased 8 MiB flash image stands for the BIOS until images can be built.
head -c 8388608 /dev/zero | tr '\0' '\377' > "$work/bios.fd"
"$bin/vyrpack" stub --out "$work/VyrFFT-stub.efi"
"$bin/vyrpack" payload --image "$work/VyrFFT-stub.efi" --out "$work/VyrFFT.efi" \
  --bios "$work/bios.fd" --ini Tools/vyrfft/examples/platform.ini
"$bin/vyrpack" inspect "$work/VyrFFT.efi"
rc=0
"$bin/vyrfft" --machine "$work/machine" --driver "$work/VyrFFT.efi" --report "$work/report.json" -- -dbg "$@" || rc=$?
echo
echo "Trace log: $work/machine/fs0/VyrFFT-Secure.Log (last lines below); report: $work/report.json"
tail -n 12 "$work/machine/fs0/VyrFFT-Secure.Log" 2>/dev/null || true
exit "$rc"
