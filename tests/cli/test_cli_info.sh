#!/usr/bin/env bash
# tarnwick-cli info: the executable of a process and its package's fields.
set -u
cli=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

sleep 30 &
sleeper=$!
trap 'kill $sleeper 2>/dev/null' EXIT
out=$("$cli" info "$sleeper") || fail "info exited $?"
version=$(dpkg-query -W -f='${Version}' coreutils)
expected="$(readlink /proc/$sleeper/exe)
Product Name: coreutils
Product Version: $version"
[ "$(printf '%s\n' "$out" | head -3)" = "$expected" ] || fail "info printed:
$out"
[ "$(printf '%s\n' "$out" | wc -l)" = 9 ] || fail "info printed $(printf '%s\n' "$out" | wc -l) lines"
printf '%s\n' "$out" | sed -n 6p | grep -qx 'Internal Name: sleep' || fail "internal name: $out"
printf '%s\n' "$out" | sed -n 9p | grep -qx "File Version: $version" || fail "file version: $out"

err=$("$cli" info 0 2>&1 >/dev/null)
status=$?
[ "$status" = 1 ] || fail "info 0 exited $status"
[ "$err" = "Can't Found Process EXE File!" ] || fail "info 0 said: $err"
"$cli" info abc >/dev/null 2>&1
[ $? = 2 ] || fail "a bad process id was no usage error"

[ "$failures" = 0 ] && echo "all passed"
exit "$failures"
