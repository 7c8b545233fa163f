#include "monitor/connection_items.h"

namespace tarnwick {

namespace {

// The interface that tells connections apart: that of a link-local remote
// address, whose text carries it as its zone; no other.
uint32_t ZoneOf(const TConnectionKey& key) {
    return key.V6() && IsLinkLocal6(key.RemoteAddr.Bytes()) ? key.Interface : 0;
}

bool SameIdentity(const TConnectionKey& a, const TConnectionKey& b) {
    return a.RemotePort == b.RemotePort && a.LocalPort == b.LocalPort && a.RemoteAddr == b.RemoteAddr &&
           a.Tcp == b.Tcp && ZoneOf(a) == ZoneOf(b);
}

uint64_t IdentityHash(const TConnectionKey& key) {
    return TConnectionKeyHash{}(TConnectionKey{key.Tcp, std::nullopt, key.LocalPort, key.RemoteAddr, key.RemotePort,
                                               ZoneOf(key)});
}

}  // namespace

TConnectionitem::TConnectionitem(TConnectionitems* owner, const TConnectionRow& texts, std::string remoteAddr,
                                 uint32_t pid, uint64_t cookie)
    : Key_(texts.Key.value_or(TConnectionKey{})), RemoteAddr_(std::move(remoteAddr)), Process_(texts.Process),
      Pid_(pid), Cookie_(cookie), State_(texts.State.value_or(TTcpState::Closed)), OwnerList_(owner) {}

uint32_t TConnectionitems::Find(uint64_t hash, const TConnectionKey& key) const {
    return Index_.Find(hash, [&](uint32_t position) { return SameIdentity(Items_[position].Key_, key); });
}

void TConnectionitems::RebuildIndex(size_t room) {
    Index_.Rebuild(Items_.size(), room, [this](uint32_t position) { return IdentityHash(Items_[position].Key_); });
}

TConnectionitem& TConnectionitems::Append(uint64_t hash, TConnectionitem item) {
    if (!Index_.HasRoomFor(Items_.size() + 1)) RebuildIndex(Items_.size() + 1);
    Items_.push_back(std::move(item));
    Index_.Add(hash, static_cast<uint32_t>(Items_.size() - 1));
    return Items_.back();
}

void TConnectionitems::Reserve(size_t count) {
    Items_.reserve(count);
    if (!Index_.HasRoomFor(count)) RebuildIndex(count);
}

void TConnectionitems::ClearSeen() {
    for (auto& item : Items_) item.Seen = false;
    NextGuess_ = 0;
}

int32_t TConnectionitems::UpdateConnection(const TConnectionRow& row, const std::function<std::string()>& remoteAddr,
                                           uint32_t pid, uint64_t cookie) {
    const TConnectionKey& key = *row.Key;
    const TTcpState state = row.State.value_or(TTcpState::Closed);
    // Identities are unique, so the guessed item, when it matches, is the one
    // the index would find; it saves the index's scattered reads.
    uint32_t found = TPositionIndex::kNone;
    if (NextGuess_ < Items_.size() && SameIdentity(Items_[NextGuess_].Key_, key)) {
        found = static_cast<uint32_t>(NextGuess_);
    } else {
        const uint64_t hash = IdentityHash(key);
        found = Find(hash, key);
        if (found == TPositionIndex::kNone) {
            Append(hash, TConnectionitem(this, row, remoteAddr(), pid, cookie));
            NextGuess_ = Items_.size();
            LastUpdated_ = Items_.size() - 1;
            return kNew;
        }
    }
    NextGuess_ = found + 1;
    LastUpdated_ = found;
    TConnectionitem& item = Items_[found];
    const bool otherSocket = !item.Seen && cookie != 0 && item.Cookie_ != 0 && cookie != item.Cookie_;
    if (otherSocket && item.State() != TTcpState::SynRcvd) {
        Replaced_.emplace(item);
        item = TConnectionitem(this, row, remoteAddr(), pid, cookie);
        return kReplaced;
    }
    if (otherSocket || item.Cookie_ == 0) item.Cookie_ = cookie;
    item.Seen = true;
    if (item.State_ == state) return kSameStatus;
    item.State_ = state;
    return kStatusChanged;
}

void TConnectionitems::RemoveUnseen() {
    const size_t before = Items_.size();
    std::erase_if(Items_, [](const TConnectionitem& item) { return !item.Seen; });
    if (Items_.size() != before) RebuildIndex(Index_.Room());
    NextGuess_ = 0;
}

}  // namespace tarnwick
