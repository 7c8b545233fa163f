// A preloaded library that makes every reverse name look-up of the
// command-line tests slow, as a resolver waiting on a distant server is:
// getnameinfo answers only after TARNWICK_SHIM_NAME_DELAY_MS milliseconds
// (900 when unset), then as the system's would.
#include <dlfcn.h>
#include <netdb.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdlib>
#include <thread>

extern "C" int getnameinfo(const sockaddr* address, socklen_t length, char* host, socklen_t hostLength, char* service,
                           socklen_t serviceLength, int flags) {
    using TGetNameInfo = int (*)(const sockaddr*, socklen_t, char*, socklen_t, char*, socklen_t, int);
    static const auto real = reinterpret_cast<TGetNameInfo>(dlsym(RTLD_NEXT, "getnameinfo"));
    const char* delay = std::getenv("TARNWICK_SHIM_NAME_DELAY_MS");
    std::this_thread::sleep_for(std::chrono::milliseconds(delay ? std::atoi(delay) : 900));
    return real(address, length, host, hostLength, service, serviceLength, flags);
}
