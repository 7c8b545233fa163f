// tarnwick-helper: the one program of Tarnwick that holds privileges (file
// capabilities CAP_NET_ADMIN, CAP_NET_RAW, CAP_DAC_READ_SEARCH and
// CAP_SYS_PTRACE, and CAP_SETPCAP for its start only; runnable by the group
// tarnwick only). The window and tarnwick-cli start it when they lack a
// capability themselves and talk to it over a socket pair; what it does and
// how is in src/platform/linux/helper_protocol.h. It closes one connection,
// starts a capture of one interface (read by a forwarder process of its own,
// which sends the frames on; the program never gets the packet socket) or
// reports socket owners per request, and nothing else: it runs no program,
// writes no file and reads no settings or environment. Once set up it holds
// only those capabilities, cannot regain any other, and can make only the
// system calls of that work (helper_seccomp.h); every connection it closes is
// written to the system journal (helper_audit.h).
#include "platform/linux/helper_program.h"

int main(int argc, char**) {
    return tarnwick::RunHelperProgram(argc);
}
