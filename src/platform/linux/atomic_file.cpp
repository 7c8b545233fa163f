#include "platform/atomic_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/linux/open_for_writing.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

namespace {

TFailure NotRegularFile() { return {0, "Not a regular file"}; }
TFailure TooLarge() { return {0, "File larger than " + std::to_string(kMaxReadFileSize >> 20) + " MiB"}; }

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

// Where a new file saved to `path` goes: `path`, or for a (chain of) dangling
// symbolic link(s) the name the last one points to, so the link stays.
TResult<std::string> NewFileTarget(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {  // the kernel's own limit on links in a row
        char buffer[PATH_MAX];
        const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
        if (length < 0) return path;  // not a link: the file goes here, or the create says why not
        if (static_cast<size_t>(length) == sizeof buffer) return TFailure{ENAMETOOLONG, "following the link " + path};
        const std::string destination(buffer, static_cast<size_t>(length));
        path = destination.starts_with('/') ? destination : FolderOf(path) + "/" + destination;
    }
    return TFailure{ELOOP, "following the links to " + path};
}

// The regular file an existing `path` names, links resolved, for a rename over it.
std::string ExistingTarget(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string result(real);
    std::free(real);
    return result;
}

TStatus WriteAll(int fd, std::string_view text, const std::string& path) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return FailureFromErrno("writing " + path);
        }
        text.remove_prefix(static_cast<size_t>(written));
    }
    return {};
}

// Flushes and closes `fd`, which holds the file at `path`.
TStatus FlushAndClose(TUniqueFd& fd, const std::string& path) {
    if (::fsync(fd.Get()) != 0) return FailureFromErrno("flushing " + path);
    if (const int error = fd.Close(); error != 0) return TFailure{error, "closing " + path};
    return {};
}

void FlushFolderOf(const std::string& path) {
    // Makes a new name durable. Some file systems cannot flush a folder; the
    // file is in place either way.
    TUniqueFd folder(::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.IsValid()) ::fsync(folder.Get());
}

// Creates a new file named after `target` with a random suffix in its folder,
// like mkstemp but with the usual 0666-less-umask permissions. Invalid, with
// errno set, when the folder does not take it.
TUniqueFd CreateTemporaryFile(const std::string& target, std::string& tempPath) {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937_64 random{std::random_device{}()};
    const std::string prefix = FolderOf(target) + "/." + FileNameOf(target) + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = prefix;
        for (int i = 0; i < 6; ++i) tempPath += kLetters[random() % (sizeof(kLetters) - 1)];
        TUniqueFd fd(::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
        if (fd.IsValid() || errno != EEXIST) return fd;
    }
    errno = EEXIST;
    return TUniqueFd();
}

// Writes `text` to the new file `fd` at `tempPath` and renames it over `target`.
TStatus FillAndRename(TUniqueFd& fd, const std::string& tempPath, const std::string& target, std::string_view text) {
    if (TStatus written = WriteAll(fd.Get(), text, tempPath); !written) return written;
    if (TStatus closed = FlushAndClose(fd, tempPath); !closed) return closed;
    if (::rename(tempPath.c_str(), target.c_str()) != 0) return FailureFromErrno("renaming over " + target);
    return {};
}

// Writes `text` to a new file and renames it over `target`. With `old` (the
// file being replaced), the new file takes its owner and mode; false, with
// nothing changed, when it cannot, or when the folder takes no new file:
// the caller then writes in place.
TResult<bool> ReplaceFile(const std::string& target, std::string_view text, const struct stat* old) {
    std::string tempPath;
    TUniqueFd fd(CreateTemporaryFile(target, tempPath));
    if (!fd.IsValid()) {
        const int error = errno;
        if (old != nullptr && (error == EACCES || error == EPERM || error == EROFS)) return false;
        return TFailure{error, "creating a file beside " + target};
    }
    if (old != nullptr) {
        // Owner first: changing it may clear set-id bits that the mode then
        // restores. Only root may give a file away, and a user only to a
        // group of theirs: otherwise the file is written where it is.
        if (::fchown(fd.Get(), old->st_uid, old->st_gid) != 0 || ::fchmod(fd.Get(), old->st_mode & 07777) != 0) {
            fd.Reset();
            ::unlink(tempPath.c_str());
            return false;
        }
    }
    if (TStatus replaced = FillAndRename(fd, tempPath, target, text); !replaced) {
        fd.Reset();
        ::unlink(tempPath.c_str());
        return replaced.Failure();
    }
    FlushFolderOf(target);
    return true;
}

TStatus WriteInPlace(const std::string& target, std::string_view text) {
    TUniqueFd fd(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
    if (!fd.IsValid()) return FailureFromErrno("opening " + target);
    // Space first, so that a full disk fails before the old text is touched.
    // File systems without fallocate just go on.
    if (!text.empty() && ::fallocate(fd.Get(), 0, 0, static_cast<off_t>(text.size())) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG))
        return FailureFromErrno("making room in " + target);
    if (TStatus written = WriteAll(fd.Get(), text, target); !written) return written;
    if (::ftruncate(fd.Get(), static_cast<off_t>(text.size())) != 0) return FailureFromErrno("cutting " + target);
    return FlushAndClose(fd, target);
}

// A FIFO, a device, a terminal: written into as it is. The open does not
// block, so that a FIFO nobody reads cannot hang the program; a reader that
// is just starting gets a short while to open its end. The writes themselves
// wait for a slow reader like any writer's.
TStatus WriteIntoSpecialFile(const std::string& path, std::string_view text) {
    TResult<TUniqueFd> opened = OpenForWriting(path);
    if (!opened) return opened.Failure();
    TUniqueFd fd = std::move(opened).Value();
    if (TStatus written = WriteAll(fd.Get(), text, path); !written) return written;
    if (const int error = fd.Close(); error != 0) return TFailure{error, "closing " + path};
    return {};
}

}  // namespace

TResult<std::optional<std::string>> ReadWholeFile(const std::string& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    TUniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.IsValid()) {
        if (errno == ENOENT || errno == ENOTDIR) return std::optional<std::string>();
        return FailureFromErrno("opening " + path);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0) return FailureFromErrno("examining " + path);
    if (S_ISDIR(st.st_mode)) return TFailure{EISDIR, "reading " + path};
    if (!S_ISREG(st.st_mode)) return NotRegularFile();
    if (static_cast<uintmax_t>(st.st_size) > kMaxReadFileSize) return TooLarge();

    std::string text;
    text.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return FailureFromErrno("reading " + path);
        }
        if (got == 0) break;
        // The file may have grown since fstat.
        if (text.size() + static_cast<size_t>(got) > kMaxReadFileSize) return TooLarge();
        text.append(buffer, static_cast<size_t>(got));
    }
    return std::optional<std::string>(std::move(text));
}

TStatus WriteWholeFile(const std::string& path, std::string_view text) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return FailureFromErrno("reaching " + path);
        const TResult<std::string> target = NewFileTarget(path);
        if (!target) return target.Failure();
        const TResult<bool> made = ReplaceFile(*target, text, nullptr);
        return made ? TStatus() : made.Failure();
    }
    if (!S_ISREG(st.st_mode)) {
        // Opened through `path` itself: /dev/stdout leads through
        // /proc/self/fd/1 to a pipe that has no name to resolve.
        return WriteIntoSpecialFile(path, text);
    }
    const std::string target = ExistingTarget(path);
    // By the permissions, as the effective user: the folder may allow a
    // rename over a file that its mode says nobody but its owner may change.
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) return FailureFromErrno("writing " + target);
    // A rename would part a hard link from its other names.
    if (st.st_nlink > 1) return WriteInPlace(target, text);
    const TResult<bool> replaced = ReplaceFile(target, text, &st);
    if (!replaced) return replaced.Failure();
    return *replaced ? TStatus() : WriteInPlace(target, text);
}

TResult<bool> WriteNewFile(const std::string& path, std::string_view text) {
    TUniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666));
    if (!fd.IsValid()) {
        if (errno == EEXIST) return false;
        return FailureFromErrno("creating " + path);
    }
    TStatus written = WriteAll(fd.Get(), text, path);
    if (written) written = FlushAndClose(fd, path);
    if (!written) {
        // The name is ours (O_EXCL): a half-written file must not stand as a save.
        fd.Reset();
        ::unlink(path.c_str());
        return written.Failure();
    }
    FlushFolderOf(path);
    return true;
}

TStatus ForEachFolderEntry(const std::string& folder, const std::function<void(std::string_view name)>& visit) {
    TUniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.IsValid()) return FailureFromErrno("opening the folder " + folder);
    // The stream takes the descriptor over and closes it with itself.
    const std::unique_ptr<DIR, int (*)(DIR*)> stream(::fdopendir(fd.Get()), &::closedir);
    if (!stream) return FailureFromErrno("listing " + folder);
    fd.Release();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(stream.get());
        if (entry == nullptr) return errno == 0 ? TStatus() : FailureFromErrno("listing " + folder);
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") visit(name);
    }
}

}  // namespace tarnwick
