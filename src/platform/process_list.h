// The list of running processes: process id and executable file name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace tarnwick {

struct TProcessEntry {
    uint32_t Pid = 0;
    std::string ExeFile;  // file name of the executable, without its folder
};

class TProcessList {
public:
    virtual ~TProcessList() = default;

    // Every running process at this moment; fails when the list cannot be read.
    virtual TResult<std::vector<TProcessEntry>> TakeSnapshot() = 0;
};

}  // namespace tarnwick
