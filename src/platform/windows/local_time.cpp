#include "platform/local_time.h"

namespace tarnwick {

std::tm LocalTimeOf(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

}  // namespace tarnwick
