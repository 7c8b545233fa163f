// The services that need a privilege — closing connections, capturing, the
// owners of other users' sockets — each done by this process when it holds
// the capability (run as root, say), else through tarnwick-helper.
#pragma once

#include "common/result.h"
#include "platform/linux/helper_client.h"
#include "platform/linux/helper_services.h"
#include "platform/linux/linux_connection_killer.h"
#include "platform/linux/linux_process_list.h"
#include "platform/linux/pcap_packet_source.h"
#include "platform/linux/socket_owners.h"

namespace tarnwick {

// Which of the privileged services this process can do itself.
struct TOwnPrivileges {
    bool CloseConnections = false;  // CAP_NET_ADMIN effective
    bool Capture = false;           // CAP_NET_RAW effective
    bool ReadAllOwners = false;     // CAP_DAC_READ_SEARCH and CAP_SYS_PTRACE effective

    // This process's, from its effective capabilities.
    static TOwnPrivileges OfThisProcess();
    bool All() const { return CloseConnections && Capture && ReadAllOwners; }
};

class TPrivilegedServices {
public:
    explicit TPrivilegedServices(TOwnPrivileges own = TOwnPrivileges::OfThisProcess(),
                                 THelperLocation helper = FindHelperProgram());

    // Starts the helper now when some service goes through it, so that it is
    // the calling thread's child (see THelperClient::Start): the window calls
    // this from its own thread at start. Others start it on first use.
    void StartHelperIfUsed();

    TConnectionKiller& Killer();
    TPacketSource& Packets();
    // For TLinuxIpTables.
    TSocketOwnerSource& Owners();
    // The processes, named as the owner source knows them.
    TProcessList& Processes();

    // Whether closing connections can be tried (a failure says why not, as
    // KillTcp's would); starts the helper when it is used.
    TStatus KillAvailable();
    // Whether the last owner scan saw every user's processes: fails with why
    // it saw only this user's.
    TStatus OwnersAvailable();
    // Fails once tarnwick-helper failed a look for owners, saying why: a
    // fault to report, where an unavailable helper is only a hint.
    TStatus OwnersHealth();

private:
    TOwnPrivileges Own_;
    THelperClient Helper_;
    TLinuxConnectionKiller DirectKiller_;
    THelperConnectionKiller HelperKiller_{Helper_};
    TPcapPacketSource DirectPackets_;
    THelperPacketSource HelperPackets_{Helper_};
    TProcSocketOwnerSource DirectOwners_;
    THelperSocketOwners HelperOwners_{Helper_};
    TLinuxProcessList DirectProcesses_;
    THelperProcessList HelperProcesses_{DirectProcesses_, HelperOwners_};
};

}  // namespace tarnwick
