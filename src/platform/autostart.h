// The user's start-up list: whether the program starts with the desktop session.
#pragma once

#include <string>

#include "common/result.h"

namespace tarnwick {

class TAutostart {
public:
    virtual ~TAutostart() = default;

    // Creates or replaces the start-up entry `name` (the executable's file
    // name) that starts `executablePath`. A failure's context is "Failed to
    // set data for '<name>'", its errno the system's reason.
    virtual TStatus Enable(const std::string& name, const std::string& executablePath) = 0;

    // Removes the start-up entry `name`; an entry that is not there is no error.
    virtual void Disable(const std::string& name) = 0;
};

}  // namespace tarnwick
