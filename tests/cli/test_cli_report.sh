#!/usr/bin/env bash
# tarnwick-cli report: the connection table and the watch log as HTML pages,
# and its usage and file errors.
set -u
cli=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

for args in "report" "report bogus $dir/x.htm" "report table" "report table $dir/x.htm --watch 1" \
            "report log $dir/x.htm --watch" "report log $dir/x.htm --watch -1" "report log $dir/x.htm --bogus"; do
    # shellcheck disable=SC2086
    "$cli" $args >/dev/null 2>"$dir/err"
    status=$?
    [ "$status" -eq 2 ] || fail "'$args' exited $status, expected 2"
    grep -q '^usage: tarnwick-cli' "$dir/err" || fail "'$args' printed no usage"
done
[ -e "$dir/x.htm" ] && fail "a usage error wrote a file"

"$cli" report table "$dir/table.htm" || fail "report table exited $?"
page=$(cat "$dir/table.htm")
for title in '>#</th>' '>Remote ' 'Addr</th>' 'Port</th>' '>Local Port</th>' '>Protocol</th>' '>Status</th>' \
             '>Process</th>'; do
    grep -qF "$title" <<<"$page" || fail "table report lacks header $title"
done
head -c 8 "$dir/table.htm" | cmp -s - <(printf '<HTML>\r\n') || fail "table report does not start with <HTML> CR LF"
grep -qF '<tr><td>1</td>' <<<"$page" || fail "table report has no row 1"
grep -qE '^Time:\.{14}[^.]' <<<"$page" || fail "table report has no time line"

start=$(date +%s)
"$cli" report log "$dir/log.htm" --watch 1 || fail "report log exited $?"
elapsed=$(($(date +%s) - start))
[ "$elapsed" -le 4 ] || fail "a watch of 1 second took ${elapsed}s"
grep -qF '<font color=#FFFFFF>Tarnwick Log ' "$dir/log.htm" || fail "log report lacks its heading"
tail -c 28 "$dir/log.htm" | cmp -s - <(printf '</table>\r\n</body>\r\n</html>\r\n') ||
    fail "log report does not end with its template lines"

# An unwritable file: the message names the full file name and the reason.
"$cli" report table "$dir/none/t.htm" 2>"$dir/err" && fail "report to a missing folder succeeded"
grep -qF "Cannot create file \"$dir/none/t.htm\". No such file or directory" "$dir/err" ||
    fail "unexpected message: $(cat "$dir/err")"

[ "$failures" -eq 0 ] && echo "all report checks passed"
exit $((failures > 0))
