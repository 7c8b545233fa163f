// The forwarder of one capture: a process forked from tarnwick-helper that
// reads a capture ring and sends its frames, in batches, over a socket pair
// to the program (the capture stream of helper_protocol.h). The helper serves
// one request at a time, so the forwarding cannot run in its loop; the
// program only ever gets the other end of the pair, never the packet socket.
//
// The forwarder keeps only the packet socket and its end of the pair (closing
// the helper's request socket and everything else), holds no capability, dies
// with the helper (its parent-death signal), never reads from the program
// (its end is shut down for reading) and ends when the program closes its
// end. It blocks sending while the program is slow: the ring is then the
// buffer, and the kernel counts what it cannot keep. The helper leaves its
// forwarders to be reaped by the kernel (SIGCHLD ignored).
//
// System calls of the forwarder, after the fork (for a seccomp allow-list it
// inherits): set_robust_list (glibc's fork), close_range, prctl
// (PR_SET_PDEATHSIG, PR_CAP_AMBIENT), getppid, capget, capset, shutdown,
// setsockopt (SO_SNDBUF), mmap, munmap and brk (its batch buffer), poll,
// getsockopt (PACKET_STATISTICS), sendto and exit_group.
#pragma once

#include <sys/types.h>

#include <memory>

#include "common/result.h"
#include "platform/linux/capture_ring.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

// Forks the forwarder of `ring`: the program's end of its pair, with the
// forwarder's process id in `forwarder`. The ring is the forwarder's alone
// afterwards.
TResult<TUniqueFd> StartCaptureForwarder(std::unique_ptr<TCaptureRing> ring, pid_t& forwarder);

// The forwarder's loop, over `ring` to `stream` (shut down for reading):
// returns 0 when the program has closed its end, 1 when a call failed.
int ForwardCapture(TCaptureRing& ring, int stream);

}  // namespace tarnwick
