// The file a capture is recorded into: opened once, written as the recording
// goes, and cut back when a write fails midway, so that what the file holds
// ends with whole records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "common/result.h"

namespace tarnwick {

class TRecordFile {
public:
    virtual ~TRecordFile() = default;

    // How messages name it: its path, or "standard output".
    virtual const std::string& Name() const = 0;

    // Appends all of `bytes`, waiting for a slow reader as any writer does.
    // On failure `written` says how many of them reached the file first. A
    // reader that went away is a failure (EPIPE), never a signal that ends
    // the program.
    virtual TStatus Write(std::span<const uint8_t> bytes, size_t& written) = 0;

    // Cuts what this recording wrote back to its first `size` bytes. Fails
    // where that cannot be done: a pipe, a terminal, a device.
    virtual TStatus CutTo(uint64_t size) = 0;
};

// Creates the file at `path` (0666 less the umask), or empties the one there.
// A FIFO nobody reads yet gets a short while for a reader, then fails
// (ENXIO): opening never hangs. Fails, naming the file, when it cannot be
// opened for writing.
TResult<std::unique_ptr<TRecordFile>> CreateRecordFile(const std::string& path);

// Records into standard output, from where it stands; it stays open after.
std::unique_ptr<TRecordFile> StandardOutputRecordFile();

}  // namespace tarnwick
