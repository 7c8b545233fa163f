#include "platform/record_file.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

#include "platform/linux/open_for_writing.h"
#include "platform/linux/unique_fd.h"

namespace tarnwick {

namespace {

// One write(2) that cannot raise SIGPIPE: a reader that went away is an
// EPIPE to report. The signal is blocked on this thread for the call, and one
// the call raised is taken back; one that was pending before stays.
ssize_t WriteWithoutSigpipe(int fd, const uint8_t* data, size_t size) {
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    const bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;
    sigset_t old;
    pthread_sigmask(SIG_BLOCK, &pipeOnly, &old);
    const ssize_t written = ::write(fd, data, size);
    const int error = errno;
    if (written < 0 && error == EPIPE && !pendingBefore) {
        const timespec now{};
        while (sigtimedwait(&pipeOnly, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    errno = error;
    return written;
}

class TDescriptorRecordFile final : public TRecordFile {
public:
    // `owned` holds `fd` unless the descriptor is borrowed (standard output).
    TDescriptorRecordFile(TUniqueFd owned, int fd, std::string name)
        : Owned_(std::move(owned)), Fd_(fd), Name_(std::move(name)) {
        // Only a regular file can be cut back, from where this recording began.
        struct stat st {};
        if (::fstat(Fd_, &st) == 0 && S_ISREG(st.st_mode)) {
            const off_t start = ::lseek(Fd_, 0, SEEK_CUR);
            if (start >= 0) Start_ = static_cast<uint64_t>(start);
        }
    }

    const std::string& Name() const override { return Name_; }

    TStatus Write(std::span<const uint8_t> bytes, size_t& written) override {
        written = 0;
        while (written < bytes.size()) {
            const ssize_t done = WriteWithoutSigpipe(Fd_, bytes.data() + written, bytes.size() - written);
            if (done >= 0) {
                written += static_cast<size_t>(done);
                continue;
            }
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                // Someone made the descriptor non-blocking (a shared standard output): wait as a blocking write would.
                pollfd writable{Fd_, POLLOUT, 0};
                if (::poll(&writable, 1, -1) >= 0 || errno == EINTR) continue;
            }
            return FailureFromErrno("recording to " + Name_);
        }
        return {};
    }

    TStatus CutTo(uint64_t size) override {
        if (!Start_) return TFailure{0, "cutting " + Name_ + " back: not a regular file"};
        const auto end = static_cast<off_t>(*Start_ + size);
        if (::ftruncate(Fd_, end) != 0 || ::lseek(Fd_, end, SEEK_SET) < 0)
            return FailureFromErrno("cutting " + Name_ + " back");
        return {};
    }

private:
    TUniqueFd Owned_;
    int Fd_;
    std::string Name_;
    std::optional<uint64_t> Start_;
};

}  // namespace

TResult<std::unique_ptr<TRecordFile>> CreateRecordFile(const std::string& path) {
    TResult<TUniqueFd> opened = OpenForWriting(path, O_CREAT | O_TRUNC, 0666);
    if (!opened) return opened.Failure();
    const int fd = opened->Get();
    return std::unique_ptr<TRecordFile>(std::make_unique<TDescriptorRecordFile>(std::move(opened).Value(), fd, path));
}

std::unique_ptr<TRecordFile> StandardOutputRecordFile() {
    return std::make_unique<TDescriptorRecordFile>(TUniqueFd(), STDOUT_FILENO, "standard output");
}

}  // namespace tarnwick
