#include "platform/linux/helper_reply_reader.h"

#include <algorithm>

namespace tarnwick {

std::optional<THelperReply> THelperReplyReader::Add(std::span<const uint8_t> message, std::string& problem) {
    if (Complete_) {
        problem = "a message after the end of its reply";
        return std::nullopt;
    }
    std::optional<THelperReply> reply = ParseHelperReply(message, Verb_, problem);
    if (!reply) return reply;
    if (reply->Status != THelperStatus::Ok && Started_) {
        problem = "a failure after the start of an answer";
        return std::nullopt;
    }
    Started_ = true;
    Complete_ = reply->Status != THelperStatus::Ok || !reply->MoreFollows;
    if (reply->Status != THelperStatus::Ok) return reply;

    if (Verb_ != THelperVerb::SocketOwners) {
        if (reply->MoreFollows) {
            problem = "a reply of several messages to a request of one";
            return std::nullopt;
        }
        return reply;
    }
    // The helper starts a new message only for an owner that did not fit
    // the last: one that says more follows is never empty.
    if (reply->MoreFollows && reply->Body.empty()) {
        problem = "a message of owners without owners that says more follow";
        return std::nullopt;
    }
    const size_t first = Owners_.size();
    if (!ParseOwnersBody(reply->Body, Owners_)) {
        problem = "a malformed list of owners";
        return std::nullopt;
    }
    if (auto broken = CheckOwners(first)) {
        problem = std::move(*broken);
        return std::nullopt;
    }
    return reply;
}

std::optional<std::string> THelperReplyReader::CheckOwners(size_t first) {
    const size_t limit = Asked_.empty() ? MostOfAll_ : Asked_.size();
    if (Owners_.size() > limit) return "more owners than the " + std::to_string(limit) + " sockets asked for";
    for (size_t i = first; i < Owners_.size(); ++i) {
        const uint64_t inode = Owners_[i].Inode;
        if (i > 0 && inode <= Owners_[i - 1].Inode) return std::string("owners out of order, or repeated");
        if (Asked_.empty()) continue;
        // Both ascending: one pass through what was asked for the whole reply.
        NextAsked_ = static_cast<size_t>(std::lower_bound(Asked_.begin() + static_cast<std::ptrdiff_t>(NextAsked_),
                                                          Asked_.end(), inode) -
                                         Asked_.begin());
        if (NextAsked_ == Asked_.size() || Asked_[NextAsked_] != inode)
            return "the owner of socket " + std::to_string(inode) + ", which was not asked for";
    }
    return std::nullopt;
}

}  // namespace tarnwick
