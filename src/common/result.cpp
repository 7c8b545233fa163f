#include "common/result.h"

#include <cerrno>
#include <cstring>

namespace tarnwick {

std::string TFailure::Text() const {
    if (Errno == 0) {
        return Context;
    }
    return Context + ": " + ErrnoText();
}

std::string TFailure::ErrnoText() const { return SystemText.empty() ? std::strerror(Errno) : SystemText; }

TFailure FailureFromErrno(std::string context) {
    return TFailure{errno, std::move(context)};
}

}  // namespace tarnwick
