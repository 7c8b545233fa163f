// Owned Windows handles and sockets, closed with their owner.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <utility>

namespace tarnwick {

class TUniqueHandle {
public:
    TUniqueHandle() = default;
    // Takes `handle`; INVALID_HANDLE_VALUE and null both mean none.
    explicit TUniqueHandle(HANDLE handle) : Handle_(handle == INVALID_HANDLE_VALUE ? nullptr : handle) {}
    ~TUniqueHandle() { Reset(); }
    TUniqueHandle(TUniqueHandle&& other) noexcept : Handle_(std::exchange(other.Handle_, nullptr)) {}
    TUniqueHandle& operator=(TUniqueHandle&& other) noexcept {
        if (this != &other) {
            Reset();
            Handle_ = std::exchange(other.Handle_, nullptr);
        }
        return *this;
    }

    bool IsValid() const { return Handle_ != nullptr; }
    HANDLE Get() const { return Handle_; }
    void Reset() {
        if (Handle_ != nullptr) ::CloseHandle(Handle_);
        Handle_ = nullptr;
    }

private:
    HANDLE Handle_ = nullptr;
};

class TUniqueSocket {
public:
    TUniqueSocket() = default;
    explicit TUniqueSocket(SOCKET socket) : Socket_(socket) {}
    ~TUniqueSocket() { Reset(); }
    TUniqueSocket(TUniqueSocket&& other) noexcept : Socket_(std::exchange(other.Socket_, INVALID_SOCKET)) {}
    TUniqueSocket& operator=(TUniqueSocket&& other) noexcept {
        if (this != &other) {
            Reset();
            Socket_ = std::exchange(other.Socket_, INVALID_SOCKET);
        }
        return *this;
    }

    bool IsValid() const { return Socket_ != INVALID_SOCKET; }
    SOCKET Get() const { return Socket_; }
    SOCKET Release() { return std::exchange(Socket_, INVALID_SOCKET); }
    void Reset() {
        if (Socket_ != INVALID_SOCKET) ::closesocket(Socket_);
        Socket_ = INVALID_SOCKET;
    }

private:
    SOCKET Socket_ = INVALID_SOCKET;
};

// The descriptor the platform interfaces pass around (int, as on Linux) for
// a socket. Windows keeps socket handles within 32 bits, so that 32-bit and
// 64-bit processes can share them; the value fits.
inline int DescriptorOfSocket(SOCKET socket) { return static_cast<int>(socket); }
inline SOCKET SocketOfDescriptor(int fd) { return fd < 0 ? INVALID_SOCKET : static_cast<SOCKET>(fd); }

}  // namespace tarnwick
