#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan) and runs each for SECONDS
# (default 10; give a larger number for a long run on demand). Corpora are
# kept in build/fuzz/corpus/<target>.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
targets=()
for source in Fuzz/*_fuzz.cpp; do targets+=("$(basename "$source" .cpp)"); done
cmake --build --preset fuzz --target "${targets[@]}"
status=0
for name in "${targets[@]}"; do
  target=build/fuzz/$name
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  dict=()
  [ -f "Fuzz/${name%_fuzz}.dict" ] && dict=("-dict=Fuzz/${name%_fuzz}.dict")
  echo "== $name ($seconds s)"
  if ! "$target" "${dict[@]}" -max_total_time="$seconds" -print_final_stats=0 "$corpus" >"build/fuzz/$name.log" 2>&1; then
    echo "FAIL: $name (see build/fuzz/$name.log)"
    tail -n 30 "build/fuzz/$name.log"
    status=1
  else
    grep -E '^Done [0-9]+ runs' "build/fuzz/$name.log" || true
  fi
done
exit $status
