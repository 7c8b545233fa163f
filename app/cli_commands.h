// The subcommands of tarnwick-cli. Each returns the process exit status.
#pragma once

#include "cli_options.h"

namespace tarnwick {

int RunTableCommand(const TCliOptions& options);
int RunWatchCommand(const TCliOptions& options);
int RunTopCommand(const TCliOptions& options);
int RunRulesCommand(const TCliOptions& options);
int RunKillCommand(const TCliOptions& options);

}  // namespace tarnwick
