#include "cli_options.h"

#include <charconv>
#include <cmath>

namespace tarnwick {

const char* CliUsage() {
    return "usage: tarnwick-cli table [--no-tcp] [--no-udp] [--no-shortnames]\n"
           "       tarnwick-cli watch [--interval SECONDS] [--count N]\n"
           "\n"
           "  table   one refresh, then the connection grid as text: a header line and one\n"
           "          line per row, cells separated by tabs\n"
           "  watch   a refresh every SECONDS (default 3), N times or until interrupted;\n"
           "          prints every log entry as: kind digit, tab, log line\n";
}

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

std::optional<TCliOptions> ParseCliOptions(const std::vector<std::string>& args, std::string& error) {
    TCliOptions options;
    if (args.empty()) {
        error = "missing command";
        return std::nullopt;
    }
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") return options;
    if (command == "table") {
        options.Command = TCliOptions::TCommand::Table;
    } else if (command == "watch") {
        options.Command = TCliOptions::TCommand::Watch;
    } else {
        error = "unknown command '" + command + "'";
        return std::nullopt;
    }

    const bool isTable = options.Command == TCliOptions::TCommand::Table;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (isTable && arg == "--no-tcp") {
            options.ShowTcp = false;
        } else if (isTable && arg == "--no-udp") {
            options.ShowUdp = false;
        } else if (isTable && arg == "--no-shortnames") {
            options.ShowShortNames = false;
        } else if (!isTable && (arg == "--interval" || arg == "--count")) {
            if (i + 1 >= args.size()) {
                error = "option " + arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (arg == "--interval") {
                double seconds = 0;
                if (!ParseNumber(value, seconds) || !std::isfinite(seconds) || seconds < 0 || seconds > 86400) {
                    error = "bad interval '" + value + "': seconds from 0 to 86400 expected";
                    return std::nullopt;
                }
                options.IntervalSeconds = seconds;
            } else {
                long long count = 0;
                if (!ParseNumber(value, count) || count < 1) {
                    error = "bad count '" + value + "': a whole number of 1 or more expected";
                    return std::nullopt;
                }
                options.Count = count;
            }
        } else {
            error = "unknown option '" + arg + "' for " + command;
            return std::nullopt;
        }
    }
    return options;
}

}  // namespace tarnwick
