#include "platform/linux/helper_reply_reader.h"

#include <algorithm>

namespace tarnwick {

TResult<THelperReply> THelperReplyReader::Add(std::span<const uint8_t> message) {
    if (Complete_) return TFailure{0, "a message after the end of its reply"};
    TResult<THelperReply> reply = ParseHelperReply(message, Verb_);
    if (!reply) return reply;
    if (reply->Status != THelperStatus::Ok && Started_) return TFailure{0, "a failure after the start of an answer"};
    Started_ = true;
    Complete_ = reply->Status != THelperStatus::Ok || !reply->MoreFollows;
    if (reply->Status != THelperStatus::Ok) return reply;

    if (Verb_ != THelperVerb::SocketOwners) {
        if (reply->MoreFollows) return TFailure{0, "a reply of several messages to a request of one"};
        return reply;
    }
    // The helper starts a new message only for an owner that did not fit
    // the last: one that says more follows is never empty.
    if (reply->MoreFollows && reply->Body.empty())
        return TFailure{0, "a message of owners without owners that says more follow"};
    const size_t first = Owners_.size();
    if (!ParseOwnersBody(reply->Body, Owners_)) return TFailure{0, "a malformed list of owners"};
    if (TStatus checked = CheckOwners(first); !checked) return checked.Failure();
    return reply;
}

TStatus THelperReplyReader::CheckOwners(size_t first) {
    const size_t limit = Asked_.empty() ? MostOfAll_ : Asked_.size();
    if (Owners_.size() > limit)
        return TFailure{0, "more owners than the " + std::to_string(limit) + " sockets asked for"};
    for (size_t i = first; i < Owners_.size(); ++i) {
        const uint64_t inode = Owners_[i].Inode;
        if (i > 0 && inode <= Owners_[i - 1].Inode) return TFailure{0, "owners out of order, or repeated"};
        if (Asked_.empty()) continue;
        // Both ascending: one pass through what was asked for the whole reply.
        NextAsked_ = static_cast<size_t>(std::lower_bound(Asked_.begin() + static_cast<std::ptrdiff_t>(NextAsked_),
                                                          Asked_.end(), inode) -
                                         Asked_.begin());
        if (NextAsked_ == Asked_.size() || Asked_[NextAsked_] != inode)
            return TFailure{0, "the owner of socket " + std::to_string(inode) + ", which was not asked for"};
    }
    return {};
}

}  // namespace tarnwick
