#include "platform/atomic_file.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include "platform/linux/unique_fd.h"

namespace tarnwick {

namespace {

[[noreturn]] void ThrowErrno(int error, const std::string& what) {
    throw std::system_error(error, std::generic_category(), what);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string FileNameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file that a save to `path` replaces: `path` itself, or what it links to.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;  // a dangling link: the save replaces the link itself
    std::string result(real);
    std::free(real);
    return result;
}

// Creates a new file named after `target` with a random suffix in its folder,
// like mkstemp but with the usual 0666-less-umask permissions.
TUniqueFd CreateTemporaryFile(const std::string& target, std::string& tempPath) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string prefix = FolderOf(target) + "/." + FileNameOf(target) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = prefix;
        for (int i = 0; i < 6; ++i) tempPath += kLetters[random() % (sizeof(kLetters) - 1)];
        TUniqueFd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (fd.IsValid()) return fd;
        if (errno != EEXIST) ThrowErrno(errno, "cannot create a temporary file beside " + target);
    }
    ThrowErrno(EEXIST, "cannot create a temporary file beside " + target);
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, "cannot write");
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsValid()) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        ThrowErrno(errno, "cannot open " + path);
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            ThrowErrno(errno, "cannot read " + path);
        }
        if (got == 0) break;
        text.append(buffer, static_cast<size_t>(got));
    }
    return text;
}

void WriteFileAtomically(const std::string& path, std::string_view text) {
    const std::string target = ResolveTarget(path);
    std::string tempPath;
    TUniqueFd fd(CreateTemporaryFile(target, tempPath));
    try {
        struct stat old {};
        if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
            // Owner first: changing it may clear set-id bits that the mode then restores.
            if (::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) {
                // Only privileged processes may give files away; keep our own owner.
            }
            if (::fchmod(fd.Get(), old.st_mode & 07777) != 0) ThrowErrno(errno, "cannot set permissions");
        }
        WriteAll(fd.Get(), text);
        if (::fsync(fd.Get()) != 0) ThrowErrno(errno, "cannot flush " + tempPath);
        if (const int error = fd.Close(); error != 0) ThrowErrno(error, "cannot close " + tempPath);
        if (::rename(tempPath.c_str(), target.c_str()) != 0) ThrowErrno(errno, "cannot rename over " + target);
    } catch (...) {
        ::unlink(tempPath.c_str());
        throw;
    }
    // Make the rename itself durable. Some file systems cannot flush a folder;
    // the new file is in place either way.
    TUniqueFd folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.IsValid()) ::fsync(folder.Get());
}

}  // namespace tarnwick
