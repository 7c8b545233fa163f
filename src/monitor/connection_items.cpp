#include "monitor/connection_items.h"

#include <bit>
#include <functional>
#include <stdexcept>


namespace tarnwick {

TConnectionitem::TConnectionitem(TConnectionitems* owner, TConnectionRow texts, uint32_t pid)
    : RemoteAddr_(std::move(texts.RemoteAddr)), RemotePort_(std::move(texts.RemotePort)),
      LocalPort_(std::move(texts.LocalPort)), Protocol_(std::move(texts.Protocol)), State_(texts.State.value_or(TTcpState::Closed)),
      Process_(std::move(texts.Process)), Key_(std::move(texts.Key)), Pid_(pid), OwnerList_(owner) {}

namespace {

TConnectionRow ItemTexts(const std::string& remoteAddr, const std::string& remotePort, const std::string& localPort,
                         const std::string& protocol, TTcpState state, const std::string& process,
                         const std::optional<TConnectionKey>& key) {
    TConnectionRow texts{remoteAddr, remotePort, localPort, protocol, {}, process, key};
    texts.State = state;
    return texts;
}

}  // namespace

uint64_t TConnectionitems::IdentityHash(std::string_view remoteAddr, std::string_view remotePort,
                                        std::string_view localPort, std::string_view protocol) {
    const std::hash<std::string_view> hash;
    uint64_t h = hash(remoteAddr);
    for (std::string_view part : {remotePort, localPort, protocol}) h = (h ^ hash(part)) * 0x9E3779B97F4A7C15ull;
    return h;
}

namespace {

bool HasIdentity(const TConnectionitem& item, std::string_view remoteAddr, std::string_view remotePort,
                 std::string_view localPort, std::string_view protocol) {
    return item.RemotePort() == remotePort && item.LocalPort() == localPort && item.RemoteAddr() == remoteAddr &&
           item.Protocol() == protocol;
}

}  // namespace

uint32_t TConnectionitems::Find(uint64_t hash, std::string_view remoteAddr, std::string_view remotePort,
                                std::string_view localPort, std::string_view protocol, size_t& slot) const {
    if (Slots_.empty()) return kEmptySlot;
    const size_t mask = Slots_.size() - 1;
    for (slot = hash & mask;; slot = (slot + 1) & mask) {
        const TSlot& s = Slots_[slot];
        if (s.Item == kEmptySlot) return kEmptySlot;
        if (s.Hash != hash) continue;
        if (HasIdentity(Items_[s.Item], remoteAddr, remotePort, localPort, protocol)) return s.Item;
    }
}

void TConnectionitems::RebuildIndex(size_t capacity) {
    Slots_.assign(capacity, TSlot{});
    const size_t mask = capacity - 1;
    for (uint32_t i = 0; i < Items_.size(); ++i) {
        const TConnectionitem& item = Items_[i];
        const uint64_t hash = IdentityHash(item.RemoteAddr(), item.RemotePort(), item.LocalPort(), item.Protocol());
        size_t slot = hash & mask;
        while (Slots_[slot].Item != kEmptySlot) slot = (slot + 1) & mask;
        Slots_[slot] = TSlot{hash, i};
    }
}

TConnectionitem& TConnectionitems::Add(TConnectionRow texts) {
    const uint64_t hash = IdentityHash(texts.RemoteAddr, texts.RemotePort, texts.LocalPort, texts.Protocol);
    size_t slot = 0;
    if (Find(hash, texts.RemoteAddr, texts.RemotePort, texts.LocalPort, texts.Protocol, slot) != kEmptySlot)
        throw std::logic_error("connection list already holds this connection");
    return Append(hash, std::move(texts));
}

TConnectionitem& TConnectionitems::Append(uint64_t hash, TConnectionRow texts, uint32_t pid) {
    // Keep the table at most half full, so that probes stay short.
    if ((Items_.size() + 1) * 2 > Slots_.size()) RebuildIndex(std::bit_ceil((Items_.size() + 1) * 2));
    const size_t mask = Slots_.size() - 1;
    size_t slot = hash & mask;
    while (Slots_[slot].Item != kEmptySlot) slot = (slot + 1) & mask;
    Items_.emplace_back(this, std::move(texts), pid);
    Slots_[slot] = TSlot{hash, static_cast<uint32_t>(Items_.size() - 1)};
    return Items_.back();
}

void TConnectionitems::Reserve(size_t count) {
    Items_.reserve(count);
    if (count * 2 > Slots_.size()) RebuildIndex(std::bit_ceil(count * 2));
}

void TConnectionitems::ClearSeen() {
    for (auto& item : Items_) item.Seen = false;
    NextGuess_ = 0;
}

int32_t TConnectionitems::UpdateConnection(const std::string& remoteAddr, const std::string& remotePort,
                                           const std::string& localPort, const std::string& protocol,
                                           TTcpState state, const std::string& process,
                                           const std::optional<TConnectionKey>& key, uint32_t pid, uint64_t cookie) {
    // Identities are unique, so the guessed item, when it matches, is the one
    // the index would find; it saves the index's scattered reads.
    uint32_t found = kEmptySlot;
    if (NextGuess_ < Items_.size() && HasIdentity(Items_[NextGuess_], remoteAddr, remotePort, localPort, protocol)) {
        found = static_cast<uint32_t>(NextGuess_);
    } else {
        const uint64_t hash = IdentityHash(remoteAddr, remotePort, localPort, protocol);
        size_t slot = 0;
        found = Find(hash, remoteAddr, remotePort, localPort, protocol, slot);
        if (found == kEmptySlot) {
            Append(hash, ItemTexts(remoteAddr, remotePort, localPort, protocol, state, process, key), pid).Cookie_ =
                cookie;
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
        item = TConnectionitem(this, ItemTexts(remoteAddr, remotePort, localPort, protocol, state, process, key), pid);
        item.Cookie_ = cookie;
        return kReplaced;
    }
    if (otherSocket || item.Cookie_ == 0) item.Cookie_ = cookie;
    item.Seen = true;
    if (item.State() == state) return kSameStatus;
    item.SetState(state);
    return kStatusChanged;
}

void TConnectionitems::RemoveUnseen() {
    const size_t before = Items_.size();
    std::erase_if(Items_, [](const TConnectionitem& item) { return !item.Seen; });
    if (Items_.size() != before) RebuildIndex(Slots_.size());
    NextGuess_ = 0;
}

}  // namespace tarnwick
