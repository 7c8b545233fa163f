// The start-up list of a freedesktop.org session: one desktop entry per
// program in the autostart folder, "<folder>/<name>.desktop", which the
// session starts when the user logs in.
#pragma once

#include <string>

#include "platform/autostart.h"

namespace tarnwick {

class TXdgAutostart final : public TAutostart {
public:
    // Entries go into `autostartDir`, made (with its parents) when first needed.
    explicit TXdgAutostart(std::string autostartDir) : Dir_(std::move(autostartDir)) {}

    // Writes "<dir>/<name>.desktop", an application entry named "Tarnwick"
    // whose Exec line starts `executablePath` without arguments, replacing
    // whatever entry of that name was there (as WriteWholeFile writes: in one
    // step, where a replacement keeps what the user has).
    TStatus Enable(const std::string& name, const std::string& executablePath) override;
    // Removes "<dir>/<name>.desktop"; nothing there, or a failure, is ignored.
    void Disable(const std::string& name) override;

    // The path of the entry `name`.
    std::string EntryPath(const std::string& name) const;
    const std::string& Dir() const { return Dir_; }

private:
    std::string Dir_;
};

// The user's autostart folder: "$XDG_CONFIG_HOME/autostart" when that variable
// holds an absolute path, else "$HOME/.config/autostart" (the home folder from
// the user database when HOME is unset).
std::string DefaultAutostartDir();

// The Exec value that runs `path` without arguments: the path as it is when it
// holds only harmless characters, else in double quotes with '"', '`', '$' and
// '\' escaped by a backslash; '%' doubled; then escaped as a key-file string
// value (backslash, tab, line feed, carriage return).
std::string DesktopExecValue(const std::string& path);

// The whole text of the entry.
std::string DesktopEntryText(const std::string& executablePath);

}  // namespace tarnwick
