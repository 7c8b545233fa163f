// Whole-file reads and writes of the program's own files (settings, rules,
// reports, log saves, the autostart entry), and the names in a folder.
//
// A write replaces a regular file in one step where it can, so that a crash or
// a failed write cannot leave it half done; where a replacement would change
// what the user has (a special file, a hard link, the owner, a folder the user
// may not write) it writes into the file instead. It never writes what the
// user may not write.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace tarnwick {

// A call that fails says so with the system's errno and the step that failed
// ("opening <path>"); a file refused although the system would have allowed
// the call fails without errno, its Context saying why in words for the user.

// The largest file ReadWholeFile takes: far beyond any settings or rules
// file, small enough that a wrong file cannot fill the memory.
inline constexpr size_t kMaxReadFileSize = 16u << 20;

// The bytes of the file at `path`, or nullopt when nothing is there (no such
// file, or a folder on the way is missing). Fails when something is there but
// cannot be read: no permission, a folder (EISDIR), an I/O error; and refuses
// anything else that is not a regular file ("Not a regular file", found at
// once: the open never waits for a FIFO's writer) and a file of more than
// kMaxReadFileSize bytes ("File larger than 16 MiB").
TResult<std::optional<std::string>> ReadWholeFile(const std::string& path);

// Makes the file at `path` hold exactly `text`. Symbolic links are followed
// and stay; a dangling one gets its file made where it points.
//
//   - A new file, or a regular file with one link whose owner and mode a new
//     file can take: written to a new file with a unique name in the same
//     folder, flushed, renamed over the target, the folder flushed. A reader,
//     or the file after a crash, sees the old contents or the new ones, never
//     a mix. A new file gets 0666 less the umask.
//   - A regular file the process may not write (by its permissions; root may
//     write any): refused with EACCES (or EROFS), the file untouched.
//   - A regular file with more than one link, one whose owner or mode a new
//     file could not take, or one in a folder the process may not write into:
//     written in place (space reserved first where the file system can, then
//     the text, then the file cut to its length), so links, owner and mode
//     stay. Not atomic: a failure midway can leave a mix.
//   - Anything else there (a FIFO, a character device, /dev/stdout): opened
//     for writing and written into; the node and any link to it stay. A FIFO
//     is waited on for a reader for at most two seconds (ENXIO then).
//
// A failure names the file; the temporary file, if any, is removed. A failure
// to flush the folder after the rename is not reported: the new file is in
// place by then.
TStatus WriteWholeFile(const std::string& path, std::string_view text);

// Creates the file at `path` holding `text`, only if nothing of that name is
// there (O_CREAT | O_EXCL, so that two writers can never both take one name;
// a dangling link counts as taken). False when the name is taken. Fails when
// the file cannot be made or written; a file this call made and could not
// fill is removed again.
TResult<bool> WriteNewFile(const std::string& path, std::string_view text);

// Calls `visit` with the name of each entry of `folder` but "." and "..", in
// no particular order. Fails when the folder cannot be listed (or not to its
// end). Allocates nothing per entry: for folders of thousands of files.
TStatus ForEachFolderEntry(const std::string& folder, const std::function<void(std::string_view name)>& visit);

}  // namespace tarnwick
