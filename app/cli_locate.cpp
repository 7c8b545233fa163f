#include "cli_locate.h"

#include "cli_platform.h"

#include <chrono>
#include <iostream>
#include <optional>
#include <string_view>

#include "common/inet_address.h"
#include "common/text_util.h"
#include "monitor/location_cache.h"
#include "monitor/location_texts.h"

namespace tarnwick {

namespace {

// Far beyond what opening the database and a few look-ups take; the wait
// ends as soon as they are answered.
constexpr std::chrono::seconds kLocateWait{60};

// A dotted IPv4 address of decimal numbers, or an IPv6 address in any
// standard form; a link-local one may carry its zone, as the table writes it.
std::optional<TInetAddress> ParseAddressArgument(std::string_view text) {
    if (const auto field = ParseDottedQuad(text)) return TInetAddress::FromIpv4Field(*field);
    const size_t percent = text.find('%');
    const auto address = ParseIp6(text.substr(0, percent));
    if (!address || (percent != std::string_view::npos && !IsLinkLocal6(*address))) return std::nullopt;
    return TInetAddress::Ipv6(*address);
}

std::string FieldOrDash(const std::string& text) { return text.empty() ? "-" : EscapeForLine(text); }

}  // namespace

int RunLocateCommand(const std::vector<std::string>& addresses) {
    if (*kNoLocationDatabase != '\0') {
        std::cerr << "tarnwick-cli: locate is not available here: " << kNoLocationDatabase << '\n';
        return 1;
    }
    int status = 0;
    std::vector<std::string> given;
    std::vector<TInetAddress> parsed;
    for (const std::string& text : addresses) {
        if (const auto address = ParseAddressArgument(text)) {
            given.push_back(text);
            parsed.push_back(*address);
        } else {
            std::cerr << "tarnwick-cli: bad address '" << EscapeForLine(text)
                      << "': a dotted IPv4 or an IPv6 address expected\n";
            status = 1;
        }
    }
    TLocationCache cache(CliLocationOpener());
    const std::vector<const TLocation*> found = cache.LocateAll(parsed, kLocateWait);
    if (const auto failure = cache.DatabaseFailure()) std::cerr << "tarnwick-cli: " << LocationDatabaseNote(*failure) << '\n';
    for (size_t i = 0; i < given.size(); ++i) {
        const TLocation location = found[i] ? *found[i] : TLocation{};
        std::cout << EscapeForLine(given[i]) << '\t' << FieldOrDash(location.CountryCode) << '\t'
                  << (location.Asn != 0 ? std::to_string(location.Asn) : "-") << '\t' << FieldOrDash(location.AsName)
                  << '\n';
    }
    std::cout << std::flush;
    return status;
}

}  // namespace tarnwick
