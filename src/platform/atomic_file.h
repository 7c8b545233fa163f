// Whole-file reads, and whole-file replacement that a crash or a failed write
// cannot leave half done. Plain POSIX calls, so any POSIX system will do.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarnwick {

// The bytes of the file at `path`, or nullopt when nothing is there (no such
// file, or a folder on the way is missing). Throws std::system_error when
// something is there but cannot be read: no permission, a folder, an I/O error.
std::optional<std::string> ReadWholeFile(const std::string& path);

// Makes the file at `path` hold exactly `text`: writes it to a new file with a
// unique name in the same folder, flushes that to the disk, renames it over
// `path` and flushes the folder. A reader, or the file after a crash, sees
// either the old contents or the new ones, never a mix. The new file takes the
// permission bits (and, where allowed, the owner) of the file it replaces; a
// new one gets 0666 less the umask. When `path` is a symbolic link, the file it
// points to is replaced and the link stays.
//
// Throws std::system_error when the text cannot be written or renamed; the old
// file is then untouched and the temporary file removed. A failure to flush the
// folder after the rename is not reported: the new file is in place by then.
void WriteFileAtomically(const std::string& path, std::string_view text);

}  // namespace tarnwick
