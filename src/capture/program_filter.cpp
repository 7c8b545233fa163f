#include "capture/program_filter.h"

#include <utility>

#include "capture/packet_owner.h"

namespace tarnwick {

TProgramFilter::TProgramFilter(TProgramSelector program, std::shared_ptr<const TSocketOwnerFeed> owners)
    : Program_(std::move(program)), Owners_(std::move(owners)) {}

bool TProgramFilter::Lists(const TPacketFields& packet) {
    if (!Program_) return true;
    const TPacketOwners ends = PacketOwners(Owners_.Current(), packet);
    return (ends.Source.Owner && Program_->Selects(*ends.Source.Owner)) ||
           (ends.Dest.Owner && Program_->Selects(*ends.Dest.Owner));
}

}  // namespace tarnwick
