#!/usr/bin/env python3
"""Checks the #include lines of src/ and app/ against the layers of the program.

    common < platform < monitor < log < rules, capture < session < ui < app

A file may include its own layer and the layers below it, never one above it
nor a sibling (rules and capture know nothing of each other). Besides:

  - platform/linux/ and platform/windows/ hold the implementations for each
    system; only the folder itself and app/ (which wires them up) include it,
    and neither includes the other. The platform/ root holds the contracts:
    headers only, which include no system header.
  - System and library headers (<unistd.h>, <windows.h>, <pcap/pcap.h>)
    belong to platform/linux/ and platform/windows/; every other layer
    includes the C++ standard library only, and ui/ and app/ the Qt headers
    besides.

Usage: check_layers.py [SOURCE_ROOT]   (default: the folder above this script)
Prints one line per breach and exits 1 when there is any.
"""

import os
import re
import sys

RANKS = {
    "common": 0,
    "platform": 1,
    "monitor": 2,
    "log": 3,
    "rules": 4,
    "capture": 4,
    "session": 5,
    "ui": 6,
    "app": 7,
}

STANDARD_HEADERS = set("""
algorithm any array atomic barrier bit bitset charconv chrono codecvt compare complex concepts
condition_variable coroutine deque exception execution expected filesystem format forward_list
fstream functional future initializer_list iomanip ios iosfwd iostream istream iterator latch limits
list locale map memory memory_resource mutex new numbers numeric optional ostream queue random ranges
ratio regex scoped_allocator semaphore set shared_mutex source_location span sstream stack stdexcept
stop_token streambuf string string_view syncstream system_error thread tuple type_traits typeindex
typeinfo unordered_map unordered_set utility valarray variant vector version
cassert cctype cerrno cfenv cfloat cinttypes climits clocale cmath csetjmp csignal cstdarg cstddef
cstdint cstdio cstdlib cstring ctime cuchar cwchar cwctype
""".split())

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


# The folders of the implementations for each system, below platform/.
SYSTEMS = ("platform/linux", "platform/windows")


def layer_of(relative):
    """The layer of a file or included path ("platform/linux" or
    "platform/windows" for the implementations), or None when it is in none."""
    parts = relative.split("/")
    if parts[0] == "app":
        return "app"
    if parts[0] == "src":
        parts = parts[1:]
    if len(parts) > 2 and "/".join(parts[:2]) in SYSTEMS:
        return "/".join(parts[:2])
    return parts[0] if len(parts) > 1 and parts[0] in RANKS else None


def rank(layer):
    return RANKS["platform" if layer in SYSTEMS else layer]


def check_quoted(file, layer, included, root):
    # A name without a folder is a neighbour in the file's own folder.
    if "/" not in included and os.path.exists(os.path.join(root, os.path.dirname(file), included)):
        return None
    target = layer_of(included)
    if target is None:
        return f'includes "{included}", which is in no layer'
    if target in SYSTEMS and layer not in (target, "app"):
        return f'includes "{included}": only {target} and app see the implementations of {target}'
    if target == layer or rank(target) < rank(layer):
        return None
    if layer in SYSTEMS and target == "platform":
        return None  # an implementation includes its contract
    if rank(target) == rank(layer):
        return f'includes "{included}": {layer} and {target} are siblings and know nothing of each other'
    return f'includes "{included}": {target} is above {layer}'


def check_angled(layer, included):
    name = included.split("/")[0]
    if included in STANDARD_HEADERS:
        return None
    if name.startswith("Q") and layer in ("ui", "app"):
        return None
    if layer in SYSTEMS:
        return None
    kind = "Qt" if name.startswith("Q") else "system"
    return f"includes the {kind} header <{included}>, which {layer} may not"


def breaches(root):
    found = []
    for top in ("src", "app"):
        for folder, _, names in os.walk(os.path.join(root, top)):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                file = os.path.relpath(os.path.join(folder, name), root)
                layer = layer_of(file)
                if layer is None:
                    found.append((file, None, "is in no layer"))
                    continue
                if layer == "platform" and name.endswith(".cpp"):
                    found.append((file, None, "is code in the folder of the platform contracts, which holds headers only"))
                with open(os.path.join(root, file), encoding="utf-8", errors="replace") as source:
                    for number, line in enumerate(source, 1):
                        match = INCLUDE.match(line)
                        if not match:
                            continue
                        angled = match.group(1) == "<"
                        included = match.group(2)
                        problem = (check_angled(layer, included) if angled
                                   else check_quoted(file, layer, included, root))
                        if problem:
                            found.append((f"{file}:{number}", included, problem))
    return found


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
    failed = False
    for place, _, problem in breaches(root):
        print(f"{place}: {problem}")
        failed = True
    if failed:
        print("Includes against the layers: common < platform < monitor < log < rules, capture < session < ui < app")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
