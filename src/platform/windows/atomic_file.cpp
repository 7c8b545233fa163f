#include "platform/atomic_file.h"

#include <windows.h>

#include <cerrno>
#include <random>

#include "platform/windows/unique_handle.h"
#include "platform/windows/wide_text.h"
#include "platform/windows/win32_failure.h"

namespace tarnwick {

namespace {

TFailure NotRegularFile() { return {0, "Not a regular file"}; }
TFailure TooLarge() { return {0, "File larger than " + std::to_string(kMaxReadFileSize >> 20) + " MiB"}; }

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    if (slash == 0 || (slash == 2 && path[1] == ':')) return path.substr(0, slash + 1);
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string InFolder(const std::string& folder, const std::string& name) {
    return !folder.empty() && IsSeparator(folder.back()) ? folder + name : folder + "\\" + name;
}

TStatus WriteAll(HANDLE file, std::string_view text, const std::string& path) {
    while (!text.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, text.data(), chunk, &written, nullptr)) return FailureFromLastError("writing " + path);
        text.remove_prefix(written);
    }
    return {};
}

// A file created (CREATE_NEW: only when nothing of that name is there) for
// writing, which others may read meanwhile.
TUniqueHandle CreateNewFile(const std::string& path) {
    return TUniqueHandle(::CreateFileW(WideText(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Writes `text` to a new file beside `target` and moves it over `target` in
// one step (MoveFileExW with replace and write-through: the new name is on
// the disk when the call returns). False, with nothing changed, when the
// folder takes no new file: the caller then writes in place.
TResult<bool> ReplaceFile(const std::string& target, std::string_view text, bool mayWriteInPlace) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string prefix = InFolder(FolderOf(target), "~" + FileNameOf(target) + ".");
    std::string tempPath;
    TUniqueHandle file;
    DWORD error = ERROR_FILE_EXISTS;
    for (int attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        tempPath = prefix;
        for (int i = 0; i < 6; ++i) tempPath += kLetters[random() % (sizeof(kLetters) - 1)];
        file = CreateNewFile(tempPath);
        error = file.IsValid() ? ERROR_SUCCESS : ::GetLastError();
    }
    if (!file.IsValid()) {
        if (mayWriteInPlace && error == ERROR_ACCESS_DENIED) return false;
        return FailureFromWin32(error, "creating a file beside " + target);
    }
    TStatus done = WriteAll(file.Get(), text, tempPath);
    if (done && !::FlushFileBuffers(file.Get())) done = FailureFromLastError("flushing " + tempPath);
    file.Reset();
    if (done && !::MoveFileExW(WideText(tempPath).c_str(), WideText(target).c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        done = FailureFromLastError("renaming over " + target);
    if (!done) {
        ::DeleteFileW(WideText(tempPath).c_str());
        return done.Failure();
    }
    return true;
}

TStatus WriteInPlace(const std::string& target, std::string_view text) {
    TUniqueHandle file(::CreateFileW(WideText(target).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return FailureFromLastError("opening " + target);
    if (TStatus written = WriteAll(file.Get(), text, target); !written) return written;
    if (!::SetEndOfFile(file.Get())) return FailureFromLastError("cutting " + target);
    if (!::FlushFileBuffers(file.Get())) return FailureFromLastError("flushing " + target);
    return {};
}

// A device or a pipe ("NUL", "\\.\pipe\x", "CON"): written into as it is.
TStatus WriteIntoSpecialFile(const std::string& path, std::string_view text) {
    TUniqueHandle file(::CreateFileW(WideText(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return FailureFromLastError("opening " + path);
    return WriteAll(file.Get(), text, path);
}

// What is at `path`: the attributes and link count of a disk file, or the
// kind of a special one.
struct TExisting {
    bool Found = false;
    bool Disk = false;  // a file on a disk (else a device, a pipe, a console)
    DWORD Attributes = 0;
    DWORD Links = 0;
};

TResult<TExisting> Examine(const std::string& path) {
    TExisting existing;
    // No access asked: the file's metadata only, whatever its permissions.
    // FILE_FLAG_BACKUP_SEMANTICS opens a folder too, so that it is named as one.
    TUniqueHandle file(::CreateFileW(WideText(path).c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.IsValid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return existing;
        return FailureFromWin32(error, "reaching " + path);
    }
    existing.Found = true;
    existing.Disk = ::GetFileType(file.Get()) == FILE_TYPE_DISK;
    BY_HANDLE_FILE_INFORMATION info{};
    if (existing.Disk && ::GetFileInformationByHandle(file.Get(), &info)) {
        existing.Attributes = info.dwFileAttributes;
        existing.Links = info.nNumberOfLinks;
    }
    return existing;
}

}  // namespace

TResult<std::optional<std::string>> ReadWholeFile(const std::string& path) {
    const TResult<TExisting> existing = Examine(path);
    if (!existing) return existing.Failure();
    if (!existing->Found) return std::optional<std::string>();
    if (existing->Attributes & FILE_ATTRIBUTE_DIRECTORY) return TFailure{EISDIR, "reading " + path};
    if (!existing->Disk) return NotRegularFile();
    TUniqueHandle file(::CreateFileW(WideText(path).c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid()) return FailureFromLastError("opening " + path);
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) return FailureFromLastError("examining " + path);
    if (static_cast<unsigned long long>(size.QuadPart) > kMaxReadFileSize) return TooLarge();

    std::string text;
    text.reserve(static_cast<size_t>(size.QuadPart));
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) return FailureFromLastError("reading " + path);
        if (got == 0) break;
        // The file may have grown since its size was taken.
        if (text.size() + got > kMaxReadFileSize) return TooLarge();
        text.append(buffer, got);
    }
    return std::optional<std::string>(std::move(text));
}

TStatus WriteWholeFile(const std::string& path, std::string_view text) {
    const TResult<TExisting> existing = Examine(path);
    if (!existing) return existing.Failure();
    if (!existing->Found) {
        const TResult<bool> made = ReplaceFile(path, text, false);
        return made ? TStatus() : made.Failure();
    }
    if (!existing->Disk) return WriteIntoSpecialFile(path, text);
    if (existing->Attributes & FILE_ATTRIBUTE_DIRECTORY) return TFailure{EISDIR, "writing " + path};
    // A read-only file is one the user may not write: a rename over it would
    // go past what the attribute says.
    if (existing->Attributes & FILE_ATTRIBUTE_READONLY) return TFailure{EACCES, "writing " + path};
    // A rename would part a hard link from its other names, and replace a
    // symbolic link (a reparse point) rather than the file it leads to.
    if (existing->Links > 1 || (existing->Attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return WriteInPlace(path, text);
    const TResult<bool> replaced = ReplaceFile(path, text, true);
    if (!replaced) return replaced.Failure();
    return *replaced ? TStatus() : WriteInPlace(path, text);
}

TResult<bool> WriteNewFile(const std::string& path, std::string_view text) {
    TUniqueHandle file = CreateNewFile(path);
    if (!file.IsValid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return false;
        return FailureFromWin32(error, "creating " + path);
    }
    TStatus written = WriteAll(file.Get(), text, path);
    if (written && !::FlushFileBuffers(file.Get())) written = FailureFromLastError("flushing " + path);
    if (!written) {
        // The name is ours (CREATE_NEW): a half-written file must not stand as a save.
        file.Reset();
        ::DeleteFileW(WideText(path).c_str());
        return written.Failure();
    }
    return true;
}

TStatus ForEachFolderEntry(const std::string& folder, const std::function<void(std::string_view name)>& visit) {
    WIN32_FIND_DATAW entry{};
    const HANDLE search = ::FindFirstFileW(WideText(InFolder(folder, "*")).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return FailureFromLastError("opening the folder " + folder);
    TStatus listed;
    for (;;) {
        const std::string name = Utf8Text(entry.cFileName);
        if (name != "." && name != "..") visit(name);
        if (!::FindNextFileW(search, &entry)) {
            if (::GetLastError() != ERROR_NO_MORE_FILES) listed = FailureFromLastError("listing " + folder);
            break;
        }
    }
    ::FindClose(search);
    return listed;
}

}  // namespace tarnwick
