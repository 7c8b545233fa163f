#include "cli_info.h"

#include <iostream>
#include <string>

#include "cli_platform.h"
#include "common/text_util.h"

namespace tarnwick {

int RunInfoCommand(uint32_t pid) {
    const TResult<std::string> exe = GetProcessExePath(pid);
    if (!exe) {
        std::cerr << "Can't Found Process EXE File!\n";
        return 1;
    }
    const std::string& path = *exe;
    const TProcessInfoFields fields = ReadProcessInfoFields(path);
    std::cout << EscapeForLine(path) << "\n";
    for (size_t i = 0; i < kProcessInfoFields.size(); ++i)
        std::cout << kProcessInfoFields[i].Caption << " " << EscapeForLine(fields.Values[i]) << "\n";
    return 0;
}

}  // namespace tarnwick
