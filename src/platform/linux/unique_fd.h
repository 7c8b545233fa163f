// TUniqueFd: the one owner of a file descriptor. Every descriptor the program
// opens itself (files, pipes, sockets, /proc directories) lives in one, so
// that it is closed exactly once on every path out, exceptions included.
#pragma once

#include <cerrno>
#include <unistd.h>

namespace tarnwick {

class TUniqueFd {
public:
    TUniqueFd() = default;
    // Takes `fd`; a negative value (a failed open) owns nothing. Leaves errno
    // as the failed call set it, for the caller to read.
    explicit TUniqueFd(int fd) noexcept : Fd_(fd) {}
    TUniqueFd(TUniqueFd&& other) noexcept : Fd_(other.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    ~TUniqueFd() { Reset(); }

    int Get() const noexcept { return Fd_; }
    bool IsValid() const noexcept { return Fd_ >= 0; }

    // Gives the descriptor up without closing it.
    int Release() noexcept {
        const int fd = Fd_;
        Fd_ = -1;
        return fd;
    }

    // Closes the descriptor held, if any, and takes `fd`. Errors of close are
    // dropped: the descriptor is gone either way (close(2) on Linux).
    void Reset(int fd = -1) noexcept {
        if (Fd_ >= 0) ::close(Fd_);
        Fd_ = fd;
    }

    // Closes now and returns close's errno, or 0: for writes whose last
    // failure may only show at close (a full disk on NFS, say).
    int Close() noexcept {
        if (Fd_ < 0) return EBADF;
        return ::close(Release()) == 0 ? 0 : errno;
    }

private:
    int Fd_ = -1;
};

}  // namespace tarnwick
