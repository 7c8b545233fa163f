#!/usr/bin/env bash
# The installation and the Debian package: cmake --install into a DESTDIR
# gives exactly the expected files; the desktop entry, the AppStream metainfo
# and the man pages pass their validators; the installed tarnwick-cli keeps
# its rules under XDG_CONFIG_HOME; cpack makes a package with the maintainer
# scripts and the computed dependencies; every program is hardened (readelf).
# Needs no network.
# Arguments: the build folder, then 1/0 for whether it has the helper and the window.
set -u
build=$1
has_helper=$2
has_gui=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1 ||
    { cat "$work/install.log"; fail "cmake --install failed"; exit 1; }

# The file list, nothing missing and nothing else.
expected=(usr/bin/tarnwick-cli usr/share/tarnwick/help.htm usr/share/man/man1/tarnwick-cli.1.gz
          usr/lib/systemd/system/tarnwick-watch.service)
[ "$has_helper" = 1 ] && expected+=(usr/libexec/tarnwick/tarnwick-helper)
if [ "$has_gui" = 1 ]; then
    expected+=(usr/bin/tarnwick usr/share/man/man1/tarnwick.1.gz usr/share/applications/tarnwick.desktop
               usr/share/metainfo/tarnwick.metainfo.xml usr/share/icons/hicolor/scalable/apps/tarnwick.svg)
    for size in 16 24 32 48 64 128 256; do
        expected+=(usr/share/icons/hicolor/${size}x${size}/apps/tarnwick.png)
    done
fi
installed=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
wanted=$(printf '%s\n' "${expected[@]}" | sort)
[ "$installed" = "$wanted" ] || fail "installed files differ from the expected ones:
$(diff <(echo "$wanted") <(echo "$installed"))"
if [ "$has_helper" = 1 ]; then
    mode=$(stat -c %a "$root/usr/libexec/tarnwick/tarnwick-helper")
    [ "$mode" = 750 ] || fail "the helper is installed with mode $mode, not 750"
fi

# Every program hardened: position-independent, relocations read-only from
# the start (BIND_NOW), and a stack protector (which imports __stack_chk_fail).
for program in "$root"/usr/bin/* "$root"/usr/libexec/tarnwick/*; do
    [ -f "$program" ] || continue
    readelf -h "$program" | grep -q 'Type: *DYN' || fail "$(basename "$program") is not position-independent"
    readelf -d "$program" | grep -q 'FLAGS.*BIND_NOW' || fail "$(basename "$program") is not linked with -z now"
    readelf -lW "$program" | grep -q GNU_RELRO || fail "$(basename "$program") has no read-only relocations"
    readelf --dyn-syms -W "$program" | grep -q ' UND __stack_chk_fail' ||
        fail "$(basename "$program") has no stack protector"
done

# Validators, each of them strict: a warning fails.
if [ "$has_gui" = 1 ]; then
    out=$(desktop-file-validate "$root/usr/share/applications/tarnwick.desktop" 2>&1)
    [ $? -eq 0 ] && [ -z "$out" ] || fail "desktop-file-validate: $out"
    out=$(appstreamcli validate --no-net --pedantic "$root/usr/share/metainfo/tarnwick.metainfo.xml" 2>&1) ||
        fail "appstreamcli validate: $out"
    for size in 16 24 32 48 64 128 256; do
        file "$root/usr/share/icons/hicolor/${size}x${size}/apps/tarnwick.png" |
            grep -q "PNG image data, $size x $size," || fail "the ${size}x${size} icon is not a PNG of that size"
    done
fi
for page in "$root"/usr/share/man/man1/*.1.gz; do
    out=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
    [ -z "$out" ] || fail "man $(basename "$page"): $out"
    lexgrog "$page" >/dev/null || fail "lexgrog finds no NAME line in $(basename "$page")"
done
grep -qx 'ExecStart=tarnwick-cli watch --journal --rules /etc/tarnwick/rules.dat --enable-rules' \
    "$root/usr/lib/systemd/system/tarnwick-watch.service" || fail "the service runs something else"

# An installed copy (bin beside share/tarnwick) takes its rules from
# XDG_CONFIG_HOME when --enable-rules comes without --rules, and makes the folder.
home=$work/home
mkdir -p "$home"
out=$(HOME=$home XDG_CONFIG_HOME=$home/cfg "$root/usr/bin/tarnwick-cli" watch --count 1 --enable-rules 2>&1 >/dev/null)
[ $? -eq 1 ] && [[ $out == *"$home/cfg/tarnwick/rules.dat: no such file"* ]] ||
    fail "watch --enable-rules without a rules file said: $out"
printf '[ALL]\nCount=0\n' >"$home/cfg/tarnwick/rules.dat"
HOME=$home XDG_CONFIG_HOME=$home/cfg "$root/usr/bin/tarnwick-cli" watch --count 1 --enable-rules >/dev/null ||
    fail "watch --enable-rules with the rules file in XDG_CONFIG_HOME failed"
[ -d "$home/.local/share/tarnwick" ] || fail "the logs folder was not made"

# The package: control fields and maintainer scripts. Uncompressed, since
# only its contents are checked here.
if (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/pkg" \
        -D CPACK_DEBIAN_COMPRESSION_TYPE=none >"$work/cpack.log" 2>&1); then
    deb=$(ls "$work"/pkg/tarnwick_*.deb)
    info=$(dpkg-deb -I "$deb")
    grep -q '^ Package: tarnwick$' <<<"$info" || fail "package name: $info"
    grep -q '^ Section: net$' <<<"$info" || fail "section: $info"
    depends=$(dpkg-deb -f "$deb" Depends)
    for dep in adduser libcap2-bin libc6 libmnl0 libpcap0.8 libloc1; do
        [[ $depends == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
    done
    [ "$(dpkg-deb -f "$deb" Recommends)" = "libloc-database, location" ] ||
        fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
    dpkg-deb -e "$deb" "$work/control"
    for script in postinst prerm postrm; do
        [ -x "$work/control/$script" ] || fail "no executable $script in the package"
        sh -n "$work/control/$script" || fail "$script is no valid shell script"
    done
    grep -q 'addgroup --quiet --system tarnwick' "$work/control/postinst" || fail "postinst makes no group"
    grep -q 'setcap cap_net_admin,cap_net_raw,cap_dac_read_search,cap_sys_ptrace,cap_setpcap+ep "$helper"' \
        "$work/control/postinst" || fail "postinst grants other capabilities"
    grep -qx 'helper=/usr/libexec/tarnwick/tarnwick-helper' "$work/control/postinst" ||
        fail "postinst names another helper"
    grep -q delgroup "$work/control/postrm" && fail "postrm removes the group"
    listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -v '/$' | sed 's|^\./||' | sort)
    [ "$listing" = "$wanted" ] || fail "the package holds other files than the installation:
$(diff <(echo "$wanted") <(echo "$listing"))"
else
    cat "$work/cpack.log"
    fail "cpack -G DEB failed"
fi

[ $failures -eq 0 ] && echo "all install checks passed"
exit $((failures > 0))
