#include "rules/ini_file_io.h"

#include <utility>

#include "platform/atomic_file.h"

namespace tarnwick {

std::optional<TIniFile> LoadExistingIniFile(const std::string& path) {
    const TResult<std::optional<std::string>> text = ReadWholeFile(path);
    if (!text) throw TIniReadError(path, text.Failure());
    if (!*text) return std::nullopt;
    return TIniFile::Parse(**text);
}

TIniFile LoadIniFile(const std::string& path) {
    std::optional<TIniFile> ini = LoadExistingIniFile(path);
    return ini ? std::move(*ini) : TIniFile{};
}

TIniFile LoadIniFileForSaving(const std::string& path) {
    try {
        return LoadIniFile(path);
    } catch (const TIniReadError& error) {
        throw TIniWriteError(path, error.Cause());
    }
}

void SaveIniFile(const TIniFile& ini, const std::string& path) {
    if (const TStatus saved = WriteWholeFile(path, ini.Text()); !saved) throw TIniWriteError(path, saved.Failure());
}

}  // namespace tarnwick
