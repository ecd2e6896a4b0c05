# Checks shared by the shell-driven runs (tests/remote, tests/arm64): source it, set WORK to a scratch folder
# and FAILED=0; each check prints "ok   NAME" or "FAIL NAME" with the output, and sets FAILED=1 on failure.

# expect NAME CODE PATTERN -- COMMAND...: passes when COMMAND exits with CODE and its stdout and stderr
# together match the extended regular expression PATTERN.
expect() {
    local name=$1 code=$2 pattern=$3
    shift 4
    local out rc
    out=$("$@" 2>&1)
    rc=$?
    if [ "$rc" = "$code" ] && grep -Eq -- "$pattern" <<<"$out"; then
        echo "ok   $name"
    else
        echo "FAIL $name: exit $rc (want $code), output:"
        sed 's/^/     /' <<<"$out"
        FAILED=1
    fi
}

# expect_lines NAME CODE LINES -- COMMAND...: as expect, but COMMAND's stdout must be exactly LINES.
expect_lines() {
    local name=$1 code=$2 lines=$3
    shift 4
    local out rc
    out=$("$@" 2>"$WORK/stderr")
    rc=$?
    if [ "$rc" = "$code" ] && [ "$out" = "$lines" ]; then
        echo "ok   $name"
    else
        echo "FAIL $name: exit $rc (want $code), output:"
        sed 's/^/     /' <<<"$out"
        sed 's/^/     /' "$WORK/stderr"
        FAILED=1
    fi
}
