# The named checks of the shell tests; sourced. Each script counts its own
# checks and ends with `report_checks` as its status.

passed=0
failed=0

check() {  # check DESCRIPTION COMMAND...: one named expectation
  local what=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
    return 0
  fi
  failed=$((failed + 1))
  echo "FAILED: $what" >&2
  return 1
}

report_checks() {  # the tally on stdout; fails when any check failed
  echo "$passed passed, $failed failed"
  [ "$failed" = 0 ]
}
