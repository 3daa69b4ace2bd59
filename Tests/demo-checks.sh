# The checks of the walk-through scripts, sourced by them: check DESCRIPTION
# COMMAND... counts and prints one result; quiet keeps a command's output in demo.log.
failures=0
passes=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passes=$((passes + 1))
  else
    echo "FAIL: $what"
    failures=$((failures + 1))
  fi
}
has() { grep -qaF -- "$1" "$2"; }
quiet() { "$@" >>demo.log 2>&1; }
