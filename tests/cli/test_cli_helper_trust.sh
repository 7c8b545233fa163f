#!/usr/bin/env bash
# A tarnwick-helper that someone else could have put in place is not started.
# In a sticky folder writable by all, a throwaway user leaves a script named
# tarnwick-helper beside a copy of tarnwick-cli, and another where an
# installed helper would be for a second copy; a throwaway member of the
# helper's group runs both copies: neither script runs, and the member is
# told which copy was passed over and why. Needs root, setpriv and useradd:
# skipped without.
set -u
cli=$1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
source "$(dirname "$0")/lib/other_users.sh"

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: making users needs root"
    exit 77
fi
for tool in setpriv useradd userdel groupadd groupdel; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
setpriv --inh-caps=-all true 2>/dev/null || { echo "SKIP: setpriv cannot clear inheritable capabilities"; exit 77; }

group=twk-tg$$
member=twk-tm$$
planter=twk-tp$$
work=$(mktemp -d)
chmod 0755 "$work"
cleanup() {
    userdel "$member" 2>/dev/null
    userdel "$planter" 2>/dev/null
    groupdel "$group" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT
groupadd -r "$group" || { echo "FAIL: groupadd"; exit 1; }
useradd -r -M -N -s /usr/sbin/nologin -G "$group" "$member" || { echo "FAIL: useradd"; exit 1; }
useradd -r -M -N -s /usr/sbin/nologin "$planter" || { echo "FAIL: useradd"; exit 1; }
planter_uid=$(id -u "$planter")

# Runs a command as user $1, with no capability left to inherit: root's
# CAP_DAC_OVERRIDE would otherwise let the programs past modes they must obey.
as() {
    local user=$1
    shift
    setpriv --reuid "$(id -u "$user")" --regid "$(id -g "$user")" --init-groups --inh-caps=-all -- \
        env -u TARNWICK_HELPER "$@"
}

# The member copies the program from a copy it may read.
copy_for_other_users "$work/programs" cli || { echo "FAIL: copying the program"; exit 1; }
shared=$work/shared
mkdir "$shared" "$work/marks"
chmod 1777 "$shared"
chmod 0777 "$work/marks"
cp "$cli" "$shared/tarnwick-cli"
as "$member" mkdir "$shared/bin"
as "$member" cp "$cli" "$shared/bin/tarnwick-cli"
# What the planted scripts do when run: leave a mark.
plant() {
    as "$planter" sh -c 'printf "#!/bin/sh\ntouch %s\n" "$2" >"$1" && chmod 0755 "$1"' plant "$1" "$2"
}
plant "$shared/tarnwick-helper" "$work/marks/beside"
as "$planter" mkdir -p "$shared/libexec/tarnwick"
plant "$shared/libexec/tarnwick/tarnwick-helper" "$work/marks/installed"

[ "$(as "$member" grep CapEff /proc/self/status)" = $'CapEff:\t0000000000000000' ] ||
    fail "the member holds capabilities of its own"

as "$member" "$shared/tarnwick-cli" table >/dev/null 2>"$work/err" || fail "the table beside the script exited $?"
[ -e "$work/marks/beside" ] && fail "the script beside the program ran"
grep -qF "tarnwick-helper is not installed (there is no $work/libexec/tarnwick/tarnwick-helper; tarnwick-helper beside the program ($shared/tarnwick-helper) was not used: it belongs to another user (uid $planter_uid))" \
    "$work/err" || fail "the table beside the script said: $(cat "$work/err")"

as "$member" "$shared/bin/tarnwick-cli" table >/dev/null 2>"$work/err" || fail "the table below the script exited $?"
[ -e "$work/marks/installed" ] && fail "the script in the place of an installed helper ran"
grep -qF "tarnwick-helper installed ($shared/libexec/tarnwick/tarnwick-helper) was not used: it belongs to another user (uid $planter_uid)" \
    "$work/err" || fail "the table below the script said: $(cat "$work/err")"

[ "$failures" -eq 0 ] && echo "all helper trust checks passed"
exit $((failures > 0))
