// Reading the process environment through a function, so that decisions made
// from it can be tested with an environment of the test's own (the process's
// own is ProcessEnvironment, platform/program_environment.h).
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace tarnwick {

// The value of the variable `name`, or nullopt when it is unset or empty (the
// freedesktop.org base directory rules and Qt both treat an empty value as unset).
using TEnvLookup = std::function<std::optional<std::string>(const std::string& name)>;

}  // namespace tarnwick
