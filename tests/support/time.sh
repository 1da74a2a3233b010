# Deadlines of process and screen tests, sourced by the other helpers: a test
# never waits a fixed time, it polls its condition until a deadline, and the
# deadline grows with what makes the machine slow.
#
#   wait_until 20 test -e "$dir/ready" || fail "not ready"   # polls every 0.1 s
#   timeout "$(test_deadline 60)" "$kel" script.kel
#
# The factor is KEL_TEST_TIME_SCALE (a whole number, default 1), times 10 with
# the collector in torture mode (KEL_GC_TORTURE set), times 2 in a sanitizer
# build (KEL_TEST_SANITIZED, set by the test definitions), times the load of
# the machine per core when it has more runnable work than cores.

# The factor, a whole number of at least 1.
test_time_scale() {
    local scale="${KEL_TEST_TIME_SCALE:-1}" load cores busy
    [[ "$scale" =~ ^[0-9]+$ ]] && [ "$scale" -ge 1 ] || scale=1
    [ -n "${KEL_GC_TORTURE:-}" ] && [ "${KEL_GC_TORTURE}" != 0 ] && scale=$((scale * 10))
    [ -n "${KEL_TEST_SANITIZED:-}" ] && scale=$((scale * 2))
    read -r load _ < /proc/loadavg 2> /dev/null || load=0
    cores=$(nproc 2> /dev/null || echo 1)
    busy=$(( (${load%.*} + cores - 1) / cores ))
    [ "$busy" -gt 1 ] && scale=$((scale * busy))
    echo "$scale"
}

# Seconds scaled by the factor.
test_deadline() { echo $(($1 * $(test_time_scale))); }

# Runs the command every 0.1 s until it succeeds (0) or the scaled deadline of
# the given seconds passes (1).
wait_until() {
    local end=$((SECONDS + $(test_deadline "$1")))
    shift
    until "$@"; do
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.1
    done
    return 0
}

# Ends the test as skipped: status 77, which the test definitions declare as
# their skip code, so CTest reports the test as not run rather than passed.
TEST_SKIP_CODE=77
test_skip() {
    echo "$1: skipping"
    exit "$TEST_SKIP_CODE"
}

# Kel scripts started by the tests read the factor (at the time the helpers
# were sourced) as KEL_TEST_TIME_FACTOR.
KEL_TEST_TIME_FACTOR=$(test_time_scale)
export KEL_TEST_TIME_FACTOR
