# The checks of the QEMU runs, sourced by run-uefi.sh and run-update.sh:
# check DESCRIPTION COMMAND... counts and prints one result under $label.
passes=0
failures=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: [$label] $what"
    passes=$((passes + 1))
  else
    echo "FAIL: [$label] $what"
    failures=$((failures + 1))
  fi
}
has() { grep -qF -- "$1" "$2"; }
lacks() { ! grep -qF -- "$1" "$2"; }
count_is() { [ "$(grep -cF -- "$2" "$3")" -eq "$1" ]; }
# The console as text: terminal escapes and carriage returns removed.
console_text() { sed -e 's/\x1b\[[0-9;?]*[A-Za-z]//g' -e 's/\x1b[()][0-9A-Za-z]//g' "$1" | tr -d '\r'; }
