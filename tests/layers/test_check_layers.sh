#!/usr/bin/env bash
# The layer check on a small tree of its own: each kind of breach is named,
# and what the layers allow is not.
# Usage: test_check_layers.sh CHECK_SCRIPT
set -euo pipefail
check=$1
command -v python3 >/dev/null || { echo "SKIP: no python3 to run the check"; exit 77; }

tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
put() {  # put FILE LINE...
    mkdir -p "$tree/$(dirname "$1")"
    local file=$1
    shift
    printf '%s\n' "$@" >"$tree/$file"
}
put src/common/util.h '#include <vector>'
put src/common/system.cpp '#include <unistd.h>'
put src/platform/windows/service_impl.cpp '#include <windows.h>' '#include "platform/service.h"'
put src/platform/windows/other.cpp '#include "platform/linux/service_impl.h"'
put src/ui/system.cpp '#include <windows.h>' '#include "platform/windows/service_impl.h"'
put src/platform/service.h '#include "common/util.h"'
put src/platform/service.cpp '#include "platform/service.h"'
put src/platform/linux/service_impl.cpp '#include <pcap/pcap.h>' '#include "platform/service.h"'
put src/monitor/upward.h '#include "log/entry.h"'
put src/monitor/system.cpp '#include <poll.h>'
put src/log/entry.h '#include "monitor/upward.h"' '#include <QString>'
put src/rules/sibling.cpp '#include "capture/reader.h"'
put src/capture/reader.h '#include "platform/linux/service_impl.h"'
put src/ui/window.cpp '#include <QWidget>' '#include "rules/sibling.h"' '#include "ui/window.h"'
put app/main.cpp '#include "main_wiring.h"' '#include "platform/linux/service_impl.h"'
put app/main_wiring.h '#include "ui/window.h"'

status=0
out=$(python3 "$check" "$tree") || status=$?
fail() { echo "FAIL: $1"; echo "$out"; exit 1; }
[ "$status" = 1 ] || fail "the check exited $status on a tree with breaches"
for breach in 'src/platform/service.cpp: ' 'src/monitor/upward.h:1: ' 'src/monitor/system.cpp:1: ' \
              'src/log/entry.h:2: ' 'src/rules/sibling.cpp:1: ' 'src/capture/reader.h:1: ' \
              'src/common/system.cpp:1: ' 'src/platform/windows/other.cpp:1: ' 'src/ui/system.cpp:1: ' \
              'src/ui/system.cpp:2: '; do
    grep -qF "$breach" <<<"$out" || fail "no breach reported at $breach"
done
for allowed in src/common/util.h src/platform/service.h src/platform/linux/ src/platform/windows/service_impl.cpp \
               'src/log/entry.h:1:' src/ui/window.cpp app/; do
    if grep -qF "$allowed" <<<"$out"; then fail "$allowed reported, though the layers allow it"; fi
done
echo "ok"
