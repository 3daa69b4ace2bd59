#!/usr/bin/env bash
# Benchmarks a whole BIOS update of a 16 MiB emulated machine against flashrom's
# dummy programmer writing the same images, in one run on one machine.
#
#   scripts/bench.sh [RUNS]     best of RUNS runs per case (default 3)
#
# Three cases, each starting from the same old flash (V1.00):
#   5%    12 changed 64 KiB blocks and the BVDT block (13 of 256 differ)
#   full  every block differs
#   same  the image already in the flash
# Each run is timed with /usr/bin/time (wall seconds, peak RSS); the table gives
# vyrfft's time as a fraction of flashrom's and its peak against 3 x ROM + 32 MiB.
# The Google Benchmark cases of Bench/ run afterwards (BENCH_MICRO=0 skips them).
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
scripts/install-deps.sh

need=()
[ -x /usr/bin/time ] || need+=(time)
command -v flashrom >/dev/null 2>&1 || [ -x /usr/sbin/flashrom ] || need+=(flashrom)
if ((${#need[@]})); then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" || true
fi
flashrom=$(command -v flashrom || echo /usr/sbin/flashrom)
[ -x "$flashrom" ] || flashrom=""

cmake --preset host-release >/dev/null
targets=(vyrfft vyrpack)
grep -q '^vyr_bench:' <(cmake --build --preset host-release --target help 2>/dev/null | sed 's/ .*//') && targets+=(vyr_bench)
cmake --build --preset host-release -j2 --target "${targets[@]}" >/dev/null
bin=build/host-release
work=build/bench
profile=Bench/bench-16mib.json
ini=Bench/bench-platform.ini
rom=$((16 * 1024 * 1024))
rm -rf "$work"
mkdir -p "$work"

# Twelve blocks spread over the part, away from the BVDT block at 0x500000.
changes=""
for block in 0x010000 0x0A0000 0x130000 0x1C0000 0x250000 0x2E0000 0x3A0000 0x680000 0x7F0000 0x960000 0xB30000 0xE20000; do
  changes+="${changes:+,}$block:0x10000"
done
"$bin/vyrpack" fd --profile "$profile" --out "$work/old.fd" --model VyrPC --version V1.00 \
  --build-date 2026-10-01 --build-time 09:00:00 --release-date 2026-10-02 >/dev/null
stamp=(--model VyrPC --version V1.01 --build-date 2026-12-01 --build-time 14:30:00 --release-date 2026-12-02)
"$bin/vyrpack" fd --profile "$profile" --image "$work/old.fd" --out "$work/5%.fd" --change "$changes" "${stamp[@]}" >/dev/null
"$bin/vyrpack" fd --profile "$profile" --image "$work/old.fd" --out "$work/full.fd" --change 0:0x500000,0x510000:0xAF0000 "${stamp[@]}" >/dev/null
cp "$work/old.fd" "$work/same.fd"
"$bin/vyrpack" stub --out "$work/stub.efi" >/dev/null
"$bin/vyrpack" payload --image "$work/stub.efi" --out "$work/VyrFFT.efi" --bios "$work/old.fd" --ini "$ini" >/dev/null

fresh_machine() {  # fresh_machine DIR IMAGE: the old flash, the image and the driver on fs0
  rm -rf "$1"
  mkdir -p "$1/fs0"
  cp "$work/old.fd" "$1/flash.bin"
  cp "$2" "$1/fs0/new.fd"
  cp "$ini" "$1/fs0/platform.ini"
  cp "$work/VyrFFT.efi" "$1/fs0/VyrFFT.efi"
}
timed() {  # timed OUTFILE COMMAND...: "seconds peak-KiB" of one run into OUTFILE
  /usr/bin/time -f '%e %M' -o "$1" "${@:2}" >/dev/null 2>&1 || {
    echo "bench: run failed: ${*:2}" >&2
    return 1
  }
}
best() {  # best FILE...: the lowest time and the highest peak of the runs
  awk 'NR == 1 || $1 < t { t = $1 } $2 > m { m = $2 } END { printf "%s %s\n", t, m }' "$@"
}

printf '%-5s %9s %9s %7s %7s %9s %9s %9s  %s\n' case vyrfft_s flashrom_s ratio target peak_MiB limit_MiB fr_MiB SMIs
status=0
for case in 5% full same; do
  image="$work/$case.fd"
  target=0.2
  [ "$case" = "5%" ] && target=0.1
  # One untimed run with the report, for the SMI count and the result.
  m="$work/m-$case"
  fresh_machine "$m" "$image"
  "$bin/vyrfft" --machine "$m" --profile "$profile" --no-terminal --report "$work/report-$case.json" -- new.fd \
    >"$work/console-$case.txt" 2>&1 || { echo "bench: vyrfft failed on $case (see $work/console-$case.txt)" >&2; exit 1; }
  cmp -s "$m/flash.bin" "$image" || { echo "bench: the flash after $case is not the image" >&2; exit 1; }
  smis=$(python3 -c 'import json,sys; r=json.load(open(sys.argv[1])); c=r["bios"]["calls"]
print("%d (14h %d, 15h %d)" % (len(r["smi"]), c.get("0x14", 0), c.get("0x15", 0)))' "$work/report-$case.json" 2>/dev/null || echo "?")
  for i in $(seq "$runs"); do
    fresh_machine "$m" "$image"
    timed "$work/v-$case-$i" "$bin/vyrfft" --machine "$m" --profile "$profile" --no-terminal -- new.fd
  done
  read -r vt vk < <(best "$work"/v-"$case"-*)
  ft="-" fk="-" ratio="-"
  if [ -n "$flashrom" ]; then
    for i in $(seq "$runs"); do
      cp "$work/old.fd" "$work/flashrom.bin"
      timed "$work/f-$case-$i" "$flashrom" -p "dummy:emulate=W25Q128FV,image=$work/flashrom.bin" -w "$image"
    done
    cmp -s "$work/flashrom.bin" "$image" || echo "bench: flashrom did not write $case" >&2
    read -r ft fk < <(best "$work"/f-"$case"-*)
    ratio=$(awk -v a="$vt" -v b="$ft" 'BEGIN { printf "%.3f", (b > 0 ? a / b : 0) }')
    awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r > t) }' && status=1
    fk=$(awk -v k="$fk" 'BEGIN { printf "%.1f", k / 1024 }')
  fi
  vm=$(awk -v k="$vk" 'BEGIN { printf "%.1f", k / 1024 }')
  limit=$(awk -v r="$rom" 'BEGIN { printf "%.1f", 3 * r / 1048576 + 32 }')
  awk -v m="$vm" -v l="$limit" 'BEGIN { exit !(m > l) }' && status=1
  printf '%-5s %9s %9s %7s %7s %9s %9s %9s  %s\n' "$case" "$vt" "$ft" "$ratio" "$target" "$vm" "$limit" "$fk" "$smis"
done
[ -n "$flashrom" ] && echo "flashrom: $("$flashrom" --version 2>/dev/null | head -1) ($(dpkg-query -W -f='${Version}' flashrom 2>/dev/null))"
echo "best of $runs runs; machine: $(nproc) cores, $(sed -n 's/^model name\s*: //p' /proc/cpuinfo | head -1)"
[ "$status" -eq 0 ] && echo "all targets met" || echo "some targets missed"

if [ "${BENCH_MICRO:-1}" != 0 ] && [ -x "$bin/vyr_bench" ]; then
  echo
  "$bin/vyr_bench" --benchmark_min_time=0.2
fi
exit "$status"
