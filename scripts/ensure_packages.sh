# Installs the Debian packages the build needs, when any is missing.
# Sourced by run.sh and test.sh; uses sudo when not root.
tarnwick_packages=(build-essential cmake ninja-build pkg-config git
                   libmnl-dev libgtest-dev libgmock-dev libbenchmark-dev
                   qt6-base-dev fonts-dejavu-core xvfb xauth trayer
                   libcanberra-dev libpcap-dev
                   libloc-dev libloc-database  # countries and networks of remote addresses (IPFire's location database)
                   location  # its command: `location update` keeps the database fresh; the tests' oracle
                   libsystemd-dev  # sd_journal_sendv: watch --journal and the helper's record of what it closed
                   libseccomp-dev  # the helper's allow-list of system calls
                   libcap2-bin  # setcap: the helper test gives a copy of tarnwick-helper its capabilities
                   python3  # the layer check over the includes (scripts/check_layers.py)
                   # installation test and cpack: validators, man, dpkg-shlibdeps
                   desktop-file-utils appstream man-db file dpkg-dev
                   clang libclang-rt-14-dev  # clang with its libFuzzer runtime: the INI fuzzer
                   tcpdump tshark)  # the oracles that read recorded captures back (tshark brings capinfos)

# The Windows build (WINDOWS=1 ./test.sh): mingw-w64's cross compilers with
# the posix thread model (std::thread), Wine to run the tests (64-bit only:
# no i386 architecture is needed), and GoogleTest's sources to build it with
# the same compiler.
# The window for Windows is built against Qt 6.4.2 for mingw-w64 (see
# scripts/windows_qt.sh), whose moc, rcc and uic are Debian's own; its test
# runs under Wine on Xvfb and takes its screenshot with xwd and netpbm.
tarnwick_windows_packages=(g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine wine64 googletest
                           qt6-base-dev qt6-base-dev-tools xvfb x11-apps netpbm xdotool)
# Building that Qt from Debian's source package, when no archive of it is at hand.
tarnwick_qt_build_packages=(gcc-mingw-w64-x86-64-posix mingw-w64-tools perl xz-utils patch dpkg-dev)

ensure_packages() {
    local missing=()
    local pkg
    for pkg in "${tarnwick_packages[@]}" "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if ! command -v sudo >/dev/null; then
            echo "Missing packages: ${missing[*]}; install them as root (apt-get install ${missing[*]})." >&2
            return 1
        fi
        sudo=(sudo)
    fi
    echo "Installing: ${missing[*]}"
    # tshark's package would otherwise ask whether to make dumpcap set-user-id.
    echo "wireshark-common wireshark-common/install-setuid boolean false" | "${sudo[@]}" debconf-set-selections
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}
