// How the C library's heap gives memory back, for a program that refreshes
// tables of 100,000 rows again and again.
#pragma once

namespace tarnwick {

// Large blocks (from 128 KiB) are mapped on their own and returned to the
// system when freed. glibc otherwise raises that bound to the size of each
// large block freed (up to 32 MiB), so the next refresh's tables come from
// the heap and the heap stays as large as the largest refresh left it: tens
// of MiB more resident memory at 100,000 sockets, for a few page faults per
// refresh less. Elsewhere than glibc it does nothing.
void ReturnLargeBlocksToTheSystem();

}  // namespace tarnwick
