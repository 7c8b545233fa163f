#include "monitor/connection_items.h"

#include <algorithm>
#include <stdexcept>

namespace tarnwick {

TConnectionitem::TConnectionitem(TConnectionitems* owner, TConnectionRow texts)
    : Texts_(std::move(texts)), OwnerList_(owner) {}

const std::string& TConnectionitems::IdentityKey(const std::string& remoteAddr, const std::string& remotePort,
                                                 const std::string& localPort, const std::string& protocol) {
    // NUL cannot occur in these texts, so it separates the four parts unambiguously.
    KeyScratch_.clear();
    KeyScratch_.append(remoteAddr).push_back('\0');
    KeyScratch_.append(remotePort).push_back('\0');
    KeyScratch_.append(localPort).push_back('\0');
    KeyScratch_.append(protocol);
    return KeyScratch_;
}

TConnectionitem& TConnectionitems::Add(TConnectionRow texts) {
    const std::string& key = IdentityKey(texts.RemoteAddr, texts.RemotePort, texts.LocalPort, texts.Protocol);
    if (ByIdentity_.contains(key)) throw std::logic_error("connection list already holds this connection");
    Items_.push_back(std::make_unique<TConnectionitem>(this, std::move(texts)));
    ByIdentity_.emplace(key, Items_.back().get());
    return *Items_.back();
}

void TConnectionitems::ClearSeen() {
    for (auto& item : Items_) item->Seen = false;
}

int32_t TConnectionitems::UpdateConnection(const std::string& remoteAddr, const std::string& remotePort,
                                           const std::string& localPort, const std::string& protocol,
                                           const std::string& status, const std::string& process) {
    auto it = ByIdentity_.find(IdentityKey(remoteAddr, remotePort, localPort, protocol));
    if (it == ByIdentity_.end()) {
        Add(TConnectionRow{remoteAddr, remotePort, localPort, protocol, status, process});
        return kNew;
    }
    TConnectionitem& item = *it->second;
    item.Seen = true;
    if (item.Status() == status) return kSameStatus;
    item.SetStatus(status);
    return kStatusChanged;
}

void TConnectionitems::RemoveUnseen() {
    for (const auto& item : Items_) {
        if (!item->Seen) {
            ByIdentity_.erase(IdentityKey(item->RemoteAddr(), item->RemotePort(), item->LocalPort(), item->Protocol()));
        }
    }
    std::erase_if(Items_, [](const auto& item) { return !item->Seen; });
}

}  // namespace tarnwick
