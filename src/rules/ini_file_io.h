// The settings and rules files on disk: TIniFile's text read from and written
// to a file, with the file's own failures as TIniReadError and TIniWriteError.
#pragma once

#include <optional>
#include <string>

#include "common/ini_file.h"

namespace tarnwick {

// The file at `path`; nullopt when there is none. Throws TIniReadError when
// something is there but cannot be read (see ReadWholeFile: special files and
// files beyond kMaxReadFileSize are refused at once).
std::optional<TIniFile> LoadExistingIniFile(const std::string& path);

// As LoadExistingIniFile, with a missing file read as an empty one.
TIniFile LoadIniFile(const std::string& path);

// The file at `path` to change and save again: what cannot be read cannot be
// kept, and writing over it would lose it, so a read failure is thrown as
// TIniWriteError, with the read's reason.
TIniFile LoadIniFileForSaving(const std::string& path);

// Writes ini.Text() to the file at `path` as WriteWholeFile does (atomically
// for a regular file of one link; never into a file the user may not write).
// TIniWriteError on failure.
void SaveIniFile(const TIniFile& ini, const std::string& path);

}  // namespace tarnwick
