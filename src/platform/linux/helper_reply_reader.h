// The program's reading of the helper's reply to one request (see
// helper_protocol.h), one message at a time. A message that cannot be part of
// an honest reply ends the exchange, and an owners reply can make the program
// hold no more owners than it asked for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"
#include "platform/linux/helper_protocol.h"

namespace tarnwick {

// The most owners a reply for every socket may name. The program asks for
// every socket only when it wants more than kMaxOwnerInodes; the reply also
// names the machine's other sockets (unix ones, those of other network
// namespaces), so it gets room for four times as many. At about 50 bytes an
// owner (more with names longer than 15 bytes), that is what a broken helper
// can make the program hold.
inline constexpr size_t kMaxOwnersOfAll = 4 * kMaxOwnerInodes;

class THelperReplyReader {
public:
    // A reply to a request with `verb` other than SocketOwners.
    explicit THelperReplyReader(THelperVerb verb) : Verb_(verb) {}
    // A reply to a SocketOwners request for `asked` (sorted, without
    // repeats; empty: every socket, at most `mostOfAll`), which must outlive
    // the reader.
    explicit THelperReplyReader(std::span<const uint64_t> asked, size_t mostOfAll = kMaxOwnersOfAll)
        : Verb_(THelperVerb::SocketOwners), Asked_(asked), MostOfAll_(mostOfAll) {}

    // Reads the next message of the reply: the reply as read (its Body a view
    // of `message`); fails, saying why, when the message cannot be part of an
    // honest reply. That is one of another verb,
    // version or status; a Failed or Refused one after the first, or any
    // after the last; one saying that more follows to a request of one
    // reply message; and of an owners reply, a message saying more follows
    // with no owner in it, or an owner out of ascending order, repeated,
    // not asked for or one too many.
    TResult<THelperReply> Add(std::span<const uint8_t> message);

    // Whether the last message of the reply has been read.
    bool Complete() const { return Complete_; }
    // The owners of an owners reply so far, by ascending inode.
    std::vector<THelperOwner>& Owners() { return Owners_; }

private:
    // Checks the owners from `first` on against what was asked.
    TStatus CheckOwners(size_t first);

    THelperVerb Verb_;
    std::span<const uint64_t> Asked_;
    size_t MostOfAll_ = kMaxOwnersOfAll;
    bool Started_ = false;
    bool Complete_ = false;
    std::vector<THelperOwner> Owners_;
    size_t NextAsked_ = 0;  // where in Asked_ the next owner's inode is looked for
};

}  // namespace tarnwick
