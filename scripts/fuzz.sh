#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan) and runs each for SECONDS
# (default 5; give a larger number for a long run on demand). Each target
# starts from its corpus in build/fuzz/corpus/<target> (new inputs go there),
# the seeds committed in Fuzz/corpus/<target> and the seeds made here with
# vyrpack in build/fuzz/seeds/<target>, with Fuzz/<target>.dict when there is
# one. Targets are named without their _fuzz suffix after SECONDS to run only
# those: scripts/fuzz.sh 60 BlockImage RomMaps
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-5}
shift || true
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
targets=()
if [ $# -gt 0 ]; then
  for name in "$@"; do targets+=("${name%_fuzz}_fuzz"); done
else
  for source in Fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
fi
cmake --build --preset fuzz --target "${targets[@]}" vyrpack

# Seeds the tools make: valid driver images with payload records, BVDT areas
# and whole FDs, a shell package and a multi-SKU image, the machine profiles,
# platform.ini.
seeds=build/fuzz/seeds
rm -rf "$seeds"
mkdir -p "$seeds/work"
make_seeds() {
  local pack=build/fuzz/vyrpack work=$seeds/work
  "$pack" stub --out "$work/stub-ia32.efi"
  "$pack" stub --arch x64 --out "$work/stub-x64.efi"
  head -c 4096 /dev/zero | tr '\0' '\132' >"$work/bios.bin"
  head -c 512 /dev/zero | tr '\0' '\105' >"$work/ec.bin"
  "$pack" payload --image stub --out "$work/packed-ia32.efi" --bios "$work/bios.bin" \
    --ini Tools/vyrfft/examples/platform.ini --ec "$work/ec.bin"
  "$pack" payload --image stub --arch x64 --out "$work/packed-x64.efi" --empty-bios \
    --ini Tools/vyrfft/examples/platform.ini
  "$pack" bvdt --blank 0x2000 --out "$work/bvdt.bin" --model VyrPC --version V1.00 \
    --prodex VyrPC,VyrPD --verex V1.00,V2.00 --release-date 2026-12-01 \
    --rom-map 0x0A:0xFFFF8000:0x1000:0,0x06:0xFFFF9000:0x1000:1
  "$pack" bvdt --blank 0x200 --out "$work/sku-a.fd" --offset 0x40 --model VyrPC-A --version V1.00
  "$pack" bvdt --blank 0x180 --out "$work/sku-b.fd" --offset 0x20 --model VyrPC-B --version V1.00
  "$pack" multisku --out "$work/multisku.fd" --image "$work/sku-a.fd" --image "$work/sku-b.fd"
  "$pack" package --image stub --out "$work/package.efi" --fd "$work/sku-a.fd=model-a.fd" \
    --fd "$work/sku-b.fd=model-b.fd" --fd "$work/ec.bin" --ini Tools/vyrfft/examples/platform.ini \
    --options /b --filter "/b /u" --resource "$work/ec.bin=FwUpdLcl.efi"
  local name
  for name in PayloadScan EmuPe VyrpackPe SecureImages MultiSku; do
    mkdir -p "$seeds/$name"
    cp "$work"/stub-*.efi "$work"/packed-*.efi "$seeds/$name/"
  done
  mkdir -p "$seeds/VyrpackPackage" "$seeds/PackageFile"
  cp "$work/multisku.fd" "$work/package.efi" "$seeds/VyrpackPackage/"
  cp "$work/package.efi" "$seeds/PackageFile/"
  cp "$work/multisku.fd" "$seeds/MultiSku/"
  mkdir -p "$seeds/Bvdt" "$seeds/RomMaps" "$seeds/BlockImage" "$seeds/Profile" "$seeds/IniStore"
  cp "$work/bvdt.bin" "$seeds/Bvdt/"
  # RomMaps: mode, selection, four empty answers (the machine answers zeros),
  # then the image with its "$FWSMI" map.
  { printf '\000\001\000\000\000\000\000\000\000\000\000\000'; cat "$work/bvdt.bin"; } >"$seeds/RomMaps/bvdt-map"
  # BlockImage: mode, selection, size (LE), image. A BIOS-region image of
  # 32 KiB, and a whole 64 KiB image with a 16 KiB EC part (EC allowed).
  { printf '\000\001\000\200\000\000'; cat "$work/bvdt.bin"; } >"$seeds/BlockImage/bios-region"
  { printf '\002\000\000\100\001\000'; cat "$work/ec.bin"; } >"$seeds/BlockImage/whole-with-ec"
  cp Emulator/Profiles/*.json "$seeds/Profile/"
  cp Tools/vyrfft/examples/platform.ini "$seeds/IniStore/"
  # A signed PFAT file of two 4 KiB blocks, once parsed only and once sent as packets.
  mkdir -p "$seeds/PfatImage"
  "$pack" pfat --key Tests/keys/test-signing.pem --fd "$work/bvdt.bin" --block-size 0x1000 --out "$work/bios.pfat"
  local length
  length=$(stat -c %s "$work/bios.pfat")
  for mode in 0 6; do
    { printf "\\$(printf %03o "$mode")"
      printf "\\$(printf %03o $((length & 255)))\\$(printf %03o $(((length >> 8) & 255)))"
      printf "\\$(printf %03o $(((length >> 16) & 255)))\\000"
      cat "$work/bios.pfat"; } >"$seeds/PfatImage/mode-$mode"
  done
  rm -rf "$work"
}
make_seeds

status=0
for name in "${targets[@]}"; do
  short=${name%_fuzz}
  target=build/fuzz/$name
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  inputs=("$corpus")
  [ -d "Fuzz/corpus/$short" ] && inputs+=("Fuzz/corpus/$short")
  [ -d "$seeds/$short" ] && inputs+=("$seeds/$short")
  dict=()
  [ -f "Fuzz/$short.dict" ] && dict=("-dict=Fuzz/$short.dict")
  echo "== $name ($seconds s)"
  if ! "$target" "${dict[@]}" -max_total_time="$seconds" -print_final_stats=1 "${inputs[@]}" \
      >"build/fuzz/$name.log" 2>&1; then
    echo "FAIL: $name (see build/fuzz/$name.log)"
    tail -n 30 "build/fuzz/$name.log"
    status=1
  else
    runs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "build/fuzz/$name.log" | grep -oE '[0-9]+$' | head -n 1)
    echo "   ${runs:-0} runs, $(( ${runs:-0} / seconds )) per second"
  fi
done
exit $status
