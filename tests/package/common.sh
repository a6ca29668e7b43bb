# What the artefact and release tests share: where scripts/package.sh put the artefacts, and
# checks that each print one "ok:" or "FAILED:" line, checks_done ending the test with the count
# of failures. Sourced after scripts/lib.sh, not run.
out="$PW_BUILD/package"
version="$(pw_product_version "$PW_BUILD/win-release")"
zip="$out/pwagent-$version-win32.zip"
setup="$out/pwagent-$version-setup.exe"
uninstaller="pwagent-uninstall.exe"

failures=0
ok() { echo "ok: $*"; }
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}
check() { # DESCRIPTION COMMAND...
    local what="$1"
    shift
    if "$@"; then ok "$what"; else fail "$what"; fi
}
checks_done() { # KIND: what the tests were about
    if [ "$failures" -gt 0 ]; then
        echo "FAILED: $failures $1 test(s)" >&2
        exit 1
    fi
    pw_log "all $1 tests passed"
}
