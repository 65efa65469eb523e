# SPDX-License-Identifier: MIT
# Sourced by the shell tests: check NAME EXPECTED ACTUAL prints "ok" or
# "FAIL" with both values and counts them; checks_done prints the counts
# and is the tests' status.
passed=0 failed=0
check() {
    if [ "$2" = "$3" ]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1: expected [$2], got [$3]"
    fi
}
checks_done() {
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
