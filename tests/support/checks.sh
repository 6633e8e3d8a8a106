# Sourced by the shell tests: `check NAME COMMAND...` runs COMMAND and counts it in $passed or
# $failed, saying which.
passed=0
failed=0

check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
}

# summary: says how many checks passed and failed; fails when any did.
summary() {
  echo "$passed passed, $failed failed"
  ((failed == 0))
}
