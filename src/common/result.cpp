#include "common/result.h"

#include <cerrno>
#include <cstring>

namespace tarnwick {

std::string TFailure::Text() const {
    if (Errno == 0) {
        return Context;
    }
    return Context + ": " + std::strerror(Errno);
}

std::string TFailure::ErrnoText() const { return std::strerror(Errno); }

TFailure FailureFromErrno(std::string context) {
    return TFailure{errno, std::move(context)};
}

}  // namespace tarnwick
