#!/usr/bin/env bash
# The Debian package installed, removed and purged by dpkg for real, in a
# mount namespace of its own where /etc, /usr and /var are overlays on a
# tmpfs, so that nothing reaches the machine's own folders or databases:
# once on a machine without the group tarnwick, once where a group of that
# name (not a system group) exists already. The helper ends up
# root:tarnwick 0750 with its capabilities, the administrator is told what
# membership grants, and purging keeps the group. Needs root, unshare and
# overlayfs, and the package's dependencies installed; skipped without.
# Arguments: the build folder, then 1/0 for whether it has the helper.
set -u
if [ "${1:-}" = --inside ]; then
    inside=1
    deb=$2
else
    inside=0
    build=$1
    has_helper=$2
fi
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
helper=/usr/libexec/tarnwick/tarnwick-helper

# Installs the package and checks what postinst did; its output in $work/out.
install_package() {
    dpkg -i "$deb" >"$work/out" 2>&1 || { fail "dpkg -i failed: $(cat "$work/out")"; return 1; }
    [ "$(stat -c '%U:%G %a' "$helper")" = "root:tarnwick 750" ] ||
        fail "the helper is $(stat -c '%U:%G %a' "$helper")"
    local caps
    caps=$(getcap "$helper" | sed 's/.* //')
    [ "$(tr , '\n' <<<"${caps%=ep}" | sort | paste -sd,)" = \
      cap_dac_read_search,cap_net_admin,cap_net_raw,cap_setpcap,cap_sys_ptrace ] && [[ $caps == *=ep ]] ||
        fail "the helper's capabilities are: $caps"
    grep -q "members of the group tarnwick may capture all network traffic" "$work/out" ||
        fail "postinst did not say what membership grants: $(cat "$work/out")"
}

purge_keeps_group() {
    local before
    before=$(getent group tarnwick)
    dpkg -P tarnwick >"$work/out" 2>&1 || fail "dpkg -P failed: $(cat "$work/out")"
    [ "$(getent group tarnwick)" = "$before" ] || fail "purging changed the group: $(getent group tarnwick)"
    dpkg-statoverride --list "$helper" >/dev/null && fail "purging kept the helper's owner and mode"
}

if [ "$inside" = 1 ]; then
    work=$3
    for folder in etc usr var; do
        mkdir "$work/$folder.upper" "$work/$folder.work"
        mount -t overlay overlay \
            -o "lowerdir=/$folder,upperdir=$work/$folder.upper,workdir=$work/$folder.work" "/$folder" ||
            { echo "SKIP: no overlay over /$folder"; exit 77; }
    done

    # A machine without the group: postinst makes a system group.
    getent group tarnwick >/dev/null && groupdel tarnwick
    if install_package; then
        gid=$(getent group tarnwick | cut -d: -f3)
        [ "${gid:-1000}" -lt 1000 ] || fail "postinst made no system group: $(getent group tarnwick)"
        dpkg -r tarnwick >"$work/out" 2>&1 || fail "dpkg -r failed: $(cat "$work/out")"
        [ -e "$helper" ] && fail "removing the package left the helper"
        purge_keeps_group
    fi

    # A group tarnwick made by hand, not a system group, is reused.
    getent group tarnwick >/dev/null && groupdel tarnwick
    groupadd tarnwick || fail "groupadd tarnwick"
    if install_package; then
        grep -qF "reusing the existing group tarnwick (gid $(getent group tarnwick | cut -d: -f3))" "$work/out" ||
            fail "postinst did not say it reuses the group: $(cat "$work/out")"
        purge_keeps_group
    fi
    [ "$failures" -eq 0 ] && echo "all dpkg checks passed"
    exit $((failures > 0))
fi

if [ "$has_helper" != 1 ]; then
    echo "SKIP: the build has no helper"
    exit 77
fi
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: dpkg -i needs root"
    exit 77
fi
for tool in unshare dpkg cpack getcap groupadd groupdel; do
    command -v "$tool" >/dev/null || { echo "SKIP: no $tool"; exit 77; }
done
if dpkg -s tarnwick >/dev/null 2>&1; then
    echo "SKIP: the package is installed on this machine: this test installs it afresh"
    exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" \
    -D CPACK_DEBIAN_COMPRESSION_TYPE=none >"$work/cpack.log" 2>&1) ||
    { cat "$work/cpack.log"; echo "FAIL: cpack -G DEB failed"; exit 1; }
deb=$(ls "$work"/pkg/tarnwick_*.deb)
missing=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*//; s/ //g' |
          while read -r package; do dpkg -s "$package" >/dev/null 2>&1 || echo "$package"; done)
if [ -n "$missing" ]; then
    echo "SKIP: the package's dependencies are not all installed:" $missing
    exit 77
fi

# The overlays' upper folders on a tmpfs of the namespace's own: it holds the
# extended attributes that setcap writes, which not every /tmp does.
mkdir "$work/scratch"
unshare -m --propagation private bash -c 'mount -t tmpfs tmpfs "$1" && exec bash "$0" --inside "$2" "$1"' \
    "$0" "$work/scratch" "$deb"
