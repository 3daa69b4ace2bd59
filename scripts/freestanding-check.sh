#!/usr/bin/env bash
# Proves that the utility core and the emulated BIOS stay freestanding: each source is
# compiled for the IA32 UEFI target with no system headers but stdint/stddef/stdarg, and
# scanned for what a compile alone lets through (new-expressions, libc calls by name).
#
#   freestanding-check.sh SRCDIR WORKDIR              check the tree
#   freestanding-check.sh --self-test SRCDIR WORKDIR  prove the check rejects bad samples
set -u

CXX=clang++-14
CXXFLAGS=(--target=i686-unknown-windows-msvc -ffreestanding -fno-exceptions -fno-rtti
  -fshort-wchar -mno-sse -mno-mmx -nostdlib -std=c++17 -nostdinc -nostdinc++
  -Werror=global-constructors -Werror=exit-time-destructors -Werror=return-type
  -Werror=implicit-function-declaration -Wno-unused-command-line-argument)

usage() {
  echo "usage: $0 [--self-test] SRCDIR WORKDIR" >&2
  exit 2
}

SELF_TEST=0
if [ "${1:-}" = "--self-test" ]; then
  SELF_TEST=1
  shift
fi
[ $# -eq 2 ] || usage
SRC=$(cd "$1" && pwd) || usage
WORK=$2
mkdir -p "$WORK" && WORK=$(cd "$WORK" && pwd) || usage

if ! command -v "$CXX" >/dev/null 2>&1; then
  echo "freestanding: $CXX not found; install clang-14 (apt-get install clang-14)" >&2
  exit 1
fi

# The only system headers the core may use, each forwarding to clang's own freestanding one.
make_include_dir() {
  local dir=$1 resource
  resource=$("$CXX" -print-resource-dir) || return 1
  mkdir -p "$dir"
  for h in stdint.h stddef.h stdarg.h; do
    if [ ! -f "$resource/include/$h" ]; then
      echo "freestanding: $resource/include/$h missing" >&2
      return 1
    fi
    echo "#include \"$resource/include/$h\"" >"$dir/$h"
  done
}

INCLUDE_DIR="$WORK/include"
make_include_dir "$INCLUDE_DIR" || exit 1
# -isystem: clang's headers, reached through the wrappers, are then treated as system headers.
INCLUDES=(-isystem "$INCLUDE_DIR" -I"$SRC/FlashUtilityPkg/Include" -I"$SRC/FlashUtilityPkg/Platform/Include"
  -I"$SRC/FlashUtilityPkg/Universal/Norvel" -I"$SRC/Emulator")

# compile_check FILE: compile only; prints the compiler's complaint on failure.
compile_check() {
  local file=$1 obj log
  obj="$WORK/obj/${file#/}.obj"
  log="$obj.log"
  mkdir -p "$(dirname "$obj")"
  if "$CXX" "${CXXFLAGS[@]}" "${INCLUDES[@]}" -c "$file" -o "$obj" >"$log" 2>&1; then
    return 0
  fi
  echo "FAIL compile: $file"
  sed 's/^/    /' "$log"
  return 1
}

# The source with comments removed and string/char literals emptied; line numbers kept,
# so that message texts ("Read new image") and prose never trip the scan.
strip_source() {
  perl -0777 -pe '
    s{(//[^\n]*)|(/\*.*?\*/)|("(?:\\.|[^"\\\n])*")|('"'"'(?:\\.|[^'"'"'\\\n])*'"'"')}{
      defined $1 ? "" : defined $2 ? ($2 =~ s/[^\n]//gr) : defined $3 ? "\"\"" : "0"
    }gse' "$1"
}

# grep_check FILE: forbidden constructs, one line per hit.
FORBIDDEN=(
  'std::|\bstd::'
  'malloc|\b(malloc|calloc|realloc)\s*\('
  'printf|\b(printf|sprintf|snprintf|fprintf|vprintf|vsprintf|vsnprintf)\s*\('
  'throw|\bthrow\b'
  'try|\btry\s*\{'
  'new-expression|(?<!operator )(?<!operator)\bnew\b'
  'delete-expression|(?<!operator )(?<!operator)\bdelete\s*(\[\s*\]\s*)?[A-Za-z_(*]'
)
grep_check() {
  local file=$1 rule name pattern hits status=0
  local stripped
  stripped=$(strip_source "$file") || return 1
  for rule in "${FORBIDDEN[@]}"; do
    name=${rule%%|*}
    pattern=${rule#*|}
    hits=$(printf '%s\n' "$stripped" | grep -nP -- "$pattern")
    if [ -n "$hits" ]; then
      status=1
      while IFS= read -r hit; do
        echo "FAIL forbidden $name: $file:${hit%%:*}: $(sed -n "${hit%%:*}p" "$file" | sed 's/^[[:space:]]*//')"
      done <<<"$hits"
    fi
  done
  return $status
}

# check_file FILE: both checks; non-zero if either fails.
check_file() {
  local status=0
  compile_check "$1" || status=1
  grep_check "$1" || status=1
  return $status
}

run_tree() {
  local files=() headers=() f compiled=0 failed=0
  if [ -d "$SRC/FlashUtilityPkg" ]; then
    while IFS= read -r f; do files+=("$f"); done < <(find "$SRC/FlashUtilityPkg" -name '*.cpp' \
      ! -name '*_test.cpp' ! -path "$SRC/FlashUtilityPkg/Platform/Host/*" | sort)
    while IFS= read -r f; do headers+=("$f"); done < <(find "$SRC/FlashUtilityPkg" -name '*.h' \
      ! -path "$SRC/FlashUtilityPkg/Platform/Host/*" | sort)
  fi
  if [ -d "$SRC/Emulator/Bios" ]; then
    while IFS= read -r f; do files+=("$f"); done < <(find "$SRC/Emulator/Bios" -name '*.cpp' \
      ! -name '*_test.cpp' | sort)
    while IFS= read -r f; do headers+=("$f"); done < <(find "$SRC/Emulator/Bios" -name '*.h' | sort)
  fi
  for f in "${files[@]}"; do
    compiled=$((compiled + 1))
    check_file "$f" || failed=$((failed + 1))
  done
  # Headers are compiled through their users; scan them too so an unused one cannot hide.
  for f in "${headers[@]}"; do
    grep_check "$f" || failed=$((failed + 1))
  done
  echo "freestanding: $compiled files compiled, $failed failed"
  [ "$failed" -eq 0 ]
}

run_self_test() {
  local dir="$WORK/samples" name failures=0
  rm -rf "$dir" "$WORK/obj"
  mkdir -p "$dir"
  cat >"$dir/uses_string.cpp" <<'EOF'
#include <string>
int Length() { return (int)std::string("abc").size(); }
EOF
  cat >"$dir/uses_libc.cpp" <<'EOF'
#include <stdio.h>
int Hello() { return printf("hello\n"); }
EOF
  cat >"$dir/uses_limits.cpp" <<'EOF'
#include <limits.h>
int Largest() { return INT_MAX; }
EOF
  cat >"$dir/uses_throw.cpp" <<'EOF'
#include "Base.h"
UINT32 Checked(UINT32 Value) {
  if (Value == 0) throw 1;
  return Value;
}
EOF
  cat >"$dir/uses_new.cpp" <<'EOF'
#include "Base.h"
struct Block { UINT32 Size; };
Block *Make() { return new Block; }
EOF
  cat >"$dir/global_constructor.cpp" <<'EOF'
#include "Base.h"
struct Counter { Counter() : Value(1) {} UINT32 Value; };
Counter mCounter;
EOF
  cat >"$dir/clean.cpp" <<'EOF'
// A clean unit: a new image, try { } and throw in prose, std:: in "text" are fine.
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include "Base.h"
static CONST CHAR16 mText[] = u"Read new BIOS image; try { throw std::x } malloc(";
UINTN TextLength() { return ARRAY_SIZE(mText) - 1; }
/* new Block; delete Block; */
EOF
  for name in uses_string uses_libc uses_limits uses_throw uses_new global_constructor; do
    if check_file "$dir/$name.cpp" >"$dir/$name.out" 2>&1; then
      echo "SELF-TEST FAIL: $name.cpp was accepted"
      failures=$((failures + 1))
    else
      echo "self-test: $name.cpp rejected: $(grep -m1 -E 'FAIL|error' "$dir/$name.out")"
    fi
  done
  # Each mechanism on its own: the scan must catch what compiles, the compile what is included.
  if grep_check "$dir/uses_new.cpp" >/dev/null; then
    echo "SELF-TEST FAIL: the scan let a new-expression through"
    failures=$((failures + 1))
  fi
  if grep_check "$dir/uses_throw.cpp" >/dev/null; then
    echo "SELF-TEST FAIL: the scan let a throw through"
    failures=$((failures + 1))
  fi
  if compile_check "$dir/uses_string.cpp" >/dev/null || compile_check "$dir/uses_libc.cpp" >/dev/null ||
    compile_check "$dir/uses_limits.cpp" >/dev/null; then
    echo "SELF-TEST FAIL: the compile accepted a standard library header"
    failures=$((failures + 1))
  fi
  if check_file "$dir/clean.cpp"; then
    echo "self-test: clean.cpp accepted"
  else
    echo "SELF-TEST FAIL: clean.cpp was rejected"
    failures=$((failures + 1))
  fi
  echo "freestanding self-test: $failures failed"
  [ "$failures" -eq 0 ]
}

if [ "$SELF_TEST" -eq 1 ]; then
  run_self_test
else
  run_tree
fi
