// The user's start-up list on Windows: one string value per program under
// HKEY_CURRENT_USER\Software\Microsoft\Windows\CurrentVersion\Run, named
// after the executable's file name, holding its full path; Windows starts it
// when the user logs on.
#pragma once

#include <string>

#include "platform/autostart.h"

namespace tarnwick {

inline constexpr const char* kRunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

class TRegistryAutostart final : public TAutostart {
public:
    // The key is made when it is missing (a fresh profile may lack it).
    TStatus Enable(const std::string& name, const std::string& executablePath) override;
    void Disable(const std::string& name) override;
};

}  // namespace tarnwick
