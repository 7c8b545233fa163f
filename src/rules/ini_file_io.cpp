#include "rules/ini_file_io.h"

#include <system_error>
#include <utility>

#include "platform/atomic_file.h"

namespace tarnwick {

std::optional<TIniFile> LoadExistingIniFile(const std::string& path) {
    std::optional<std::string> text;
    try {
        text = ReadWholeFile(path);
    } catch (const std::system_error& error) {
        throw TIniReadError(path, error.code());
    }
    if (!text) return std::nullopt;
    return TIniFile::Parse(*text);
}

TIniFile LoadIniFile(const std::string& path) {
    std::optional<TIniFile> ini = LoadExistingIniFile(path);
    return ini ? std::move(*ini) : TIniFile{};
}

TIniFile LoadIniFileForSaving(const std::string& path) {
    try {
        return LoadIniFile(path);
    } catch (const TIniReadError& error) {
        throw TIniWriteError(path, error.Reason());
    }
}

void SaveIniFile(const TIniFile& ini, const std::string& path) {
    try {
        WriteWholeFile(path, ini.Text());
    } catch (const std::system_error& error) {
        throw TIniWriteError(path, error.code());
    }
}

}  // namespace tarnwick
