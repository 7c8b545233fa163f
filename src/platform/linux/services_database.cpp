#include "platform/linux/services_database.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/linux/unique_fd.h"

namespace tarnwick {

namespace {

// A real services file is a few hundred kilobytes; anything far larger is not one.
constexpr size_t kMaxFileSize = 64 * 1024 * 1024;

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Splits off the next whitespace-separated word of `rest`; empty when none is left.
std::string_view NextWord(std::string_view& rest) {
    size_t begin = 0;
    while (begin < rest.size() && IsSpace(rest[begin])) {
        ++begin;
    }
    size_t end = begin;
    while (end < rest.size() && !IsSpace(rest[end])) {
        ++end;
    }
    std::string_view word = rest.substr(begin, end - begin);
    rest.remove_prefix(end);
    return word;
}

// Decimal digits only, 0..65535; leading zeros are fine, signs are not.
std::optional<uint16_t> ParsePort(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint32_t>(c - '0');
        if (value > 65535) {
            return std::nullopt;
        }
    }
    return static_cast<uint16_t>(value);
}

void ParseLine(std::string_view line, TServicesByPort& entries) {
    if (size_t hash = line.find('#'); hash != std::string_view::npos) {
        line = line.substr(0, hash);
    }
    std::string_view name = NextWord(line);
    std::string_view portAndProtocol = NextWord(line);
    if (name.empty() || portAndProtocol.empty()) {
        return;
    }
    size_t slash = portAndProtocol.find('/');
    if (slash == std::string_view::npos) {
        return;
    }
    std::optional<uint16_t> port = ParsePort(portAndProtocol.substr(0, slash));
    std::string_view protocol = portAndProtocol.substr(slash + 1);
    if (!port || protocol.empty()) {
        return;
    }
    // emplace keeps an existing entry: the first line for a port wins.
    entries.emplace(*port, TServiceEntry{std::string(name), std::string(protocol)});
}

}  // namespace

TServicesByPort ParseServices(std::string_view text) {
    TServicesByPort entries;
    while (!text.empty()) {
        size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        ParseLine(line, entries);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    }
    return entries;
}

TServicesDatabase::TServicesDatabase(std::string path, std::chrono::milliseconds checkInterval)
    : Path_(std::move(path)), CheckInterval_(checkInterval) {
    Refresh();
}

std::optional<TServiceEntry> TServicesDatabase::Find(uint16_t port) {
    auto now = std::chrono::steady_clock::now();
    if (now >= NextCheck_) {
        Refresh();
    }
    auto it = Entries_.find(port);
    if (it == Entries_.end()) {
        return std::nullopt;
    }
    return it->second;
}

void TServicesDatabase::Refresh() {
    NextCheck_ = std::chrono::steady_clock::now() + CheckInterval_;
    struct stat st {};
    if (::stat(Path_.c_str(), &st) != 0) {
        Entries_.clear();
        Loaded_.reset();
        return;
    }
    TFileIdentity current{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
    if (Loaded_ && *Loaded_ == current) {
        return;
    }
    Load();
}

void TServicesDatabase::Load() {
    Entries_.clear();
    Loaded_.reset();

    TUniqueFd file(::open(Path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.IsValid()) {
        return;
    }
    // The identity comes from the descriptor actually read, so a file replaced
    // between the stat in Refresh and the open is not mistaken for the old one.
    struct stat st {};
    if (::fstat(file.Get(), &st) != 0 || !S_ISREG(st.st_mode) || static_cast<size_t>(st.st_size) > kMaxFileSize) {
        return;
    }

    std::string text;
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        ssize_t got = ::read(file.Get(), chunk.data(), chunk.size());
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (got == 0) {
            break;
        }
        text.append(chunk.data(), static_cast<size_t>(got));
        if (text.size() > kMaxFileSize) {
            return;
        }
    }

    Entries_ = ParseServices(text);
    Loaded_ = TFileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

}  // namespace tarnwick
