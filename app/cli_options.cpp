#include "cli_options.h"

#include <array>
#include <charconv>
#include <cmath>

#include "capture/packet_parser.h"
#include "common/inet_address.h"
#include "common/text_util.h"
#include "platform/network_interfaces.h"

namespace tarnwick {

const char* CliUsage() {
    return "usage: tarnwick-cli table [--no-tcp] [--no-udp] [--no-ipv6] [--no-shortnames] [--location] [--traffic]\n"
           "       tarnwick-cli watch [--interval SECONDS] [--count N] [--no-ipv6] [--rules FILE] [--enable-rules]\n"
           "                          [--json | --journal] [--stats]\n"
           "       tarnwick-cli top [--interval SECONDS] [--count N]\n"
           "       tarnwick-cli rules FILE\n"
           "       tarnwick-cli kill LOCALPORT REMOTEADDR REMOTEPORT\n"
           "       tarnwick-cli capture [--addr1 A] [--addr2 A] [--port1 P] [--port2 P] [--proto NAME]\n"
           "                            [--pid N | --process NAME] [--interval SECONDS] [--count N] [--dump]\n"
           "                            [--write FILE]\n"
           "       tarnwick-cli info PID\n"
           "       tarnwick-cli locate ADDRESS...\n"
           "       tarnwick-cli report table FILE\n"
           "       tarnwick-cli report log FILE [--watch SECONDS]\n"
           "\n"
           "  table   one refresh, then the connection grid as text: a header line and one\n"
           "          line per row, cells separated by tabs. --traffic adds the columns\n"
           "          Sent, Received (bytes), Send Rate and Receive Rate (bytes a second,\n"
           "          measured over one second: the table is read twice, a second apart);\n"
           "          \"-\" where the system keeps no counters: every UDP socket, and TCP\n"
           "          sockets in Time_Wait or still in their handshake. --location adds\n"
           "          Country (two-letter code) and Network (\"AS3320 Deutsche Telekom AG\")\n"
           "          after Process, \"-\" where not known: addresses that are not public\n"
           "          (private, loopback, link-local, multicast), or not in the database\n"
           "  watch   a refresh every SECONDS (default 3), N times or until interrupted;\n"
           "          prints every log entry as: kind digit, tab, log line. With --rules,\n"
           "          loads the rules of FILE; --enable-rules checks every new established\n"
           "          connection against them and runs their actions. --enable-rules alone\n"
           "          takes the window's rules.dat: beside the executable when that folder\n"
           "          is writable, else in $XDG_CONFIG_HOME/tarnwick (~/.config/tarnwick).\n"
           "          Both list IPv4 and IPv6 sockets (protocol TCPv6 and UDPv6; IPv6\n"
           "          sockets with IPv4-mapped ends are IPv4 connections, TCP and UDP);\n"
           "          --no-ipv6 leaves out the TCPv6 and UDPv6 rows and their events\n"
           "          watch --json prints every entry as one JSON object a line instead:\n"
           "          time (RFC 3339 with the zone's offset), kind (0..3), text (the line\n"
           "          without its time stamp), and for an entry about a connection\n"
           "          protocol, local_address, local_port, remote_address, remote_port\n"
           "          (numeric), state, pid and process (when the owner is known); bytes\n"
           "          that are not UTF-8 become U+FFFD. watch --journal sends the entries\n"
           "          to the systemd journal instead of printing them: MESSAGE, PRIORITY\n"
           "          (5 for rule lines, else 6), SYSLOG_IDENTIFIER=tarnwick, TARNWICK_KIND\n"
           "          and the connection's fields as TARNWICK_PROTOCOL,\n"
           "          TARNWICK_LOCAL_ADDRESS, ..., TARNWICK_PID, TARNWICK_PROCESS.\n"
           "          --json and --journal exclude each other. --stats prints\n"
           "          \"refresh N: T ms\" on standard error after each refresh, T the time\n"
           "          from reading the tables to writing its last line. The JSON of a\n"
           "          TCP connection's entry has bytes_sent and bytes_received as well,\n"
           "          when its counters are known (for a connection that is gone: as last\n"
           "          seen), and remote_country, remote_asn and remote_as_name when the\n"
           "          location database knows the remote address\n"
           "  top     the programs ranked by their TCP traffic, every SECONDS (default 3),\n"
           "          N times or until interrupted: a header line, then per program\n"
           "          Process, Connections, Send Rate, Receive Rate (bytes a second over\n"
           "          the last SECONDS), Sent, Received (bytes of its open connections)\n"
           "  rules   prints the rules of FILE, one line per rule, fields separated by tabs\n"
           "  kill    closes the established TCP connection from LOCALPORT to\n"
           "          REMOTEADDR:REMOTEPORT (needs CAP_NET_ADMIN; on Windows an administrator,\n"
           "          and IPv4 connections only). REMOTEADDR is a dotted\n"
           "          IPv4 address of decimal numbers, leading zeros ignored (127.000.000.001\n"
           "          is 127.0.0.1), or an IPv6 address in any standard form (::1 is\n"
           "          0:0:0:0:0:0:0:1), a link-local one with its zone (fe80::1%lo, as the\n"
           "          table writes it); an IPv4-mapped one (::ffff:a.b.c.d) names the IPv4\n"
           "          connection a.b.c.d, which is how the table lists it\n"
           "  capture captures IPv4 and IPv6 packets on every interface (needs CAP_NET_RAW;\n"
           "          on Windows an administrator, and IPv4 only)\n"
           "          and prints those between endpoint 1 (--addr1, --port1) and endpoint 2\n"
           "          (--addr2, --port2), either way, of protocol NAME (IP, ICMP, IGMP, GGP,\n"
           "          TCP, PUP, UDP, IDP, NP, RAW, MAX, ICMPv6); an address is dotted IPv4 or\n"
           "          IPv6; 0.0.0.0, :: and port 0 match any. One line per\n"
           "          packet: Protocol, Source Addr, Source Port, Dest Addr, Dest Port, Data\n"
           "          Size, Data, separated by tabs; --dump adds its hex dump lines. Ends\n"
           "          after N packets or when interrupted, then prints the packets received\n"
           "          and dropped to standard error. --pid and --process print only the\n"
           "          packets of one program: those with a TCP or UDP socket of process N,\n"
           "          or of any process named NAME as the table names it, at either end\n"
           "          (and between the endpoints, when given). The sockets are read before\n"
           "          the capture and then every SECONDS (default 3), so a connection the\n"
           "          program opens later is caught from the next reading on, and the first\n"
           "          packets of a very short one may be missed. A program without sockets\n"
           "          is said on standard error, and the capture goes on for it.\n"
           "          --write records every packet it lists\n"
           "          into FILE in the pcapng format (as tcpdump -r, tshark and Wireshark\n"
           "          read it): one interface block per captured interface, each packet\n"
           "          whole with its time stamp, and the program that owns its connection\n"
           "          as its comment where known; then prints \"recorded N packets to\n"
           "          FILE\" to standard error. FILE - is standard output, which then gets\n"
           "          no packet lines. A file that cannot be written (a full disk, a\n"
           "          reader that went away) ends the capture with exit status 1; what it\n"
           "          holds reads to its last whole packet\n"
           "  info    the executable of process PID, then its Product Name, Product Version,\n"
           "          Company, Copyright, Internal Name, Description, Comments and File\n"
           "          Version, one \"Caption: value\" line each\n"
           "  locate  one line per ADDRESS (dotted IPv4 or IPv6): the address as given,\n"
           "          country code, AS number and AS name, separated by tabs, \"-\" where\n"
           "          not known. Locations come from IPFire's location database\n"
           "          (/var/lib/location/database.db, Debian package libloc-database,\n"
           "          refreshed by `location update`); without it every field is \"-\" and\n"
           "          a note goes to standard error. A malformed ADDRESS is said on\n"
           "          standard error and the exit status is 1; the others are printed\n"
           "  report  writes an HTML page to FILE: `table` the connection grid after one\n"
           "          refresh; `log` the event log of a watch of SECONDS (default 0: one\n"
           "          refresh), refreshing every 3 seconds and at its end\n";
}

namespace {

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

// A time in seconds, from 0 to a day.
bool ParseSeconds(const std::string& text, double& seconds) {
    return ParseNumber(text, seconds) && std::isfinite(seconds) && seconds >= 0 && seconds <= 86400;
}

bool ParsePort(const std::string& text, uint16_t& port) {
    unsigned value = 0;
    if (!ParseNumber(text, value) || value > 65535) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

// The kill command's REMOTEADDR into `options`; false when it is no address.
bool ParseRemoteAddr(const std::string& text, TCliOptions& options) {
    if (text.find(':') == std::string::npos) {
        // As the tables write it: "127.000.000.001" is 127.0.0.1.
        const std::optional<uint32_t> field = ParseDottedQuad(text);
        if (!field) return false;
        options.RemoteAddr = DottedText(*field);
        return true;
    }
    // A link-local address may carry its zone: an interface's name or number.
    const size_t percent = text.find('%');
    const std::optional<TIp6Address> address = ParseIp6(std::string_view(text).substr(0, percent));
    if (!address) return false;
    if (percent != std::string::npos) {
        const std::string zone = text.substr(percent + 1);
        uint32_t index = InterfaceIndexByName(zone);
        if (index == 0 && !ParseNumber(zone, index)) return false;
        if (index == 0 || !IsLinkLocal6(*address)) return false;
        options.RemoteInterface = index;
    }
    if (IsIpv4Mapped(*address)) {
        // The tables list a connection with mapped ends as an IPv4 one.
        options.RemoteAddr = DottedText(MappedIpv4Field(*address));
    } else {
        options.RemoteAddr6 = *address;
        options.RemoteAddr = Ip6Text(*address) + (percent != std::string::npos ? text.substr(percent) : "");
    }
    return true;
}

}  // namespace

TResult<TCliOptions> ParseCliOptions(const std::vector<std::string>& args) {
    TCliOptions options;
    const auto fail = [](std::string message) { return TFailure{0, std::move(message)}; };
    if (args.empty()) return fail("missing command");
    const std::string& command = args[0];
    if (command == "--help" || command == "-h" || command == "help") return options;

    if (command == "rules") {
        if (args.size() != 2) return fail("rules takes one FILE");
        options.Command = TCliOptions::TCommand::Rules;
        options.RulesFile = args[1];
        return options;
    }
    if (command == "kill") {
        if (args.size() != 4) return fail("kill takes LOCALPORT REMOTEADDR REMOTEPORT");
        options.Command = TCliOptions::TCommand::Kill;
        if (!ParsePort(args[1], options.LocalPort)) return fail("bad local port '" + args[1] + "'");
        if (!ParseRemoteAddr(args[2], options))
            return fail("bad remote address '" + args[2] + "': a dotted IPv4 address or an IPv6 address expected");
        if (!ParsePort(args[3], options.RemotePort)) return fail("bad remote port '" + args[3] + "'");
        return options;
    }
    if (command == "report") {
        if (args.size() < 2 || (args[1] != "table" && args[1] != "log")) return fail("report takes table or log");
        if (args.size() < 3) return fail("report " + args[1] + " needs a FILE");
        options.Command = TCliOptions::TCommand::Report;
        const bool isLog = args[1] == "log";
        options.ReportKind = isLog ? TCliOptions::TReportKind::Log : TCliOptions::TReportKind::Table;
        options.ReportFile = args[2];
        for (size_t i = 3; i < args.size(); ++i) {
            if (!isLog || args[i] != "--watch") return fail("unknown option '" + args[i] + "' for report " + args[1]);
            if (i + 1 >= args.size()) return fail("option --watch needs a value");
            const std::string& value = args[++i];
            double seconds = 0;
            if (!ParseSeconds(value, seconds))
                return fail("bad watch time '" + value + "': seconds from 0 to 86400 expected");
            options.WatchSeconds = seconds;
        }
        return options;
    }
    if (command == "info") {
        if (args.size() != 2) return fail("info takes one PID");
        options.Command = TCliOptions::TCommand::Info;
        if (!ParseNumber(args[1], options.Pid)) return fail("bad process id '" + args[1] + "'");
        return options;
    }
    if (command == "locate") {
        if (args.size() < 2) return fail("locate takes one or more ADDRESS");
        options.Command = TCliOptions::TCommand::Locate;
        options.LocateAddresses.assign(args.begin() + 1, args.end());
        return options;
    }
    if (command == "capture") {
        options.Command = TCliOptions::TCommand::Capture;
        TCaptureCliOptions& capture = options.Capture;
        bool intervalGiven = false;
        for (size_t i = 1; i < args.size(); ++i) {
            const std::string& arg = args[i];
            if (arg == "--dump") {
                capture.Dump = true;
                continue;
            }
            if (arg != "--addr1" && arg != "--addr2" && arg != "--port1" && arg != "--port2" && arg != "--proto" &&
                arg != "--count" && arg != "--pid" && arg != "--process" && arg != "--interval" && arg != "--write")
                return fail("unknown option '" + arg + "' for capture");
            if (i + 1 >= args.size()) return fail("option " + arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--write") {
                if (value.empty()) return fail("option --write needs a file name, or - for standard output");
                capture.Write = value;
            } else if (arg == "--addr1" || arg == "--addr2") {
                // As the address field gives it: numbers without leading
                // zeros, IPv6 in RFC 5952 form.
                std::string address;
                if (const auto field = ParseDottedQuad(value))
                    address = DottedText(*field);
                else if (const auto address6 = ParseIp6(value))
                    address = Ip6Text(*address6);
                else
                    return fail("bad address '" + value + "': a dotted IPv4 or an IPv6 address expected");
                (arg == "--addr1" ? capture.Addr1 : capture.Addr2) = address;
            } else if (arg == "--port1" || arg == "--port2") {
                uint16_t port = 0;
                if (!ParsePort(value, port)) return fail("bad port '" + value + "'");
                (arg == "--port1" ? capture.Port1 : capture.Port2) = port;
            } else if (arg == "--proto") {
                static const std::array<const char*, 12> kNames{"IP",  "ICMP", "IGMP", "GGP", "TCP", "PUP",
                                                                "UDP", "IDP",  "NP",   "RAW", "MAX", kIcmp6Name};
                bool known = false;
                for (const char* name : kNames) known |= value == name;
                if (!known) return fail("unknown protocol '" + value + "'");
                capture.Proto = value;
            } else if (arg == "--pid" || arg == "--process") {
                if (capture.Program) return fail("--pid and --process exclude each other");
                TProgramSelector program;
                if (arg == "--pid") {
                    uint32_t pid = 0;
                    if (!ParseNumber(value, pid) || pid == 0) return fail("bad process id '" + value + "'");
                    program.Pid = pid;
                } else {
                    if (value.empty()) return fail("option --process needs a name");
                    program.Name = value;
                }
                capture.Program = program;
            } else if (arg == "--interval") {
                double seconds = 0;
                if (!ParseSeconds(value, seconds))
                    return fail("bad interval '" + value + "': seconds from 0 to 86400 expected");
                capture.IntervalSeconds = seconds;
                intervalGiven = true;
            } else {
                long long count = 0;
                if (!ParseNumber(value, count) || count < 1)
                    return fail("bad count '" + value + "': a whole number of 1 or more expected");
                capture.Count = count;
            }
        }
        // The sockets are read only for a program.
        if (intervalGiven && !capture.Program) return fail("--interval needs --pid or --process");
        return options;
    }
    if (command == "table") {
        options.Command = TCliOptions::TCommand::Table;
    } else if (command == "watch") {
        options.Command = TCliOptions::TCommand::Watch;
    } else if (command == "top") {
        options.Command = TCliOptions::TCommand::Top;
    } else {
        return fail("unknown command '" + command + "'");
    }

    const bool isTable = options.Command == TCliOptions::TCommand::Table;
    const bool isTop = options.Command == TCliOptions::TCommand::Top;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (isTop && arg != "--interval" && arg != "--count") {
            return fail("unknown option '" + arg + "' for " + command);
        } else if (isTable && arg == "--traffic") {
            options.ShowTraffic = true;
        } else if (isTable && arg == "--location") {
            options.ShowLocation = true;
        } else if (isTable && arg == "--no-tcp") {
            options.ShowTcp = false;
        } else if (isTable && arg == "--no-udp") {
            options.ShowUdp = false;
        } else if (arg == "--no-ipv6") {
            options.ShowIpv6 = false;
        } else if (isTable && arg == "--no-shortnames") {
            options.ShowShortNames = false;
        } else if (!isTable && arg == "--enable-rules") {
            options.EnableRules = true;
        } else if (!isTable && arg == "--stats") {
            options.Stats = true;
        } else if (!isTable && (arg == "--json" || arg == "--journal")) {
            const auto output = arg == "--json" ? TCliOptions::TWatchOutput::Json : TCliOptions::TWatchOutput::Journal;
            if (options.WatchOutput != TCliOptions::TWatchOutput::Lines && options.WatchOutput != output)
                return fail("--json and --journal exclude each other");
            options.WatchOutput = output;
        } else if (!isTable && (arg == "--interval" || arg == "--count" || arg == "--rules")) {
            if (i + 1 >= args.size()) return fail("option " + arg + " needs a value");
            const std::string& value = args[++i];
            if (arg == "--interval") {
                double seconds = 0;
                if (!ParseSeconds(value, seconds))
                    return fail("bad interval '" + value + "': seconds from 0 to 86400 expected");
                options.IntervalSeconds = seconds;
            } else if (arg == "--count") {
                long long count = 0;
                if (!ParseNumber(value, count) || count < 1)
                    return fail("bad count '" + value + "': a whole number of 1 or more expected");
                options.Count = count;
            } else {
                options.RulesFile = value;
            }
        } else {
            return fail("unknown option '" + arg + "' for " + command);
        }
    }
    return options;
}

}  // namespace tarnwick
