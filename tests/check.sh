# shellcheck shell=bash
# The counting check of the shell tests, sourced by them: each check runs a
# command and says "ok: NAME", or "FAIL: NAME" with the command's output; the
# script ends with its counts in `passed` and `failed`.
passed=0 failed=0

# Counts one check: ok when the command succeeds, FAIL with its output if not.
check() {
  local name=$1 output
  shift
  if output=$("$@" 2>&1); then
    passed=$((passed + 1))
    echo "ok: $name"
  else
    failed=$((failed + 1))
    echo "FAIL: $name"
    [ -n "$output" ] && sed 's/^/    /' <<<"$output"
  fi
}
