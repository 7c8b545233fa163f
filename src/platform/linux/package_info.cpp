#include "platform/linux/package_info.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "platform/linux/unique_fd.h"

extern char** environ;

namespace tarnwick {

namespace {

constexpr size_t kMaxCommandOutput = 16u << 20;
constexpr size_t kMaxTextFile = 1u << 20;
constexpr std::streamsize kMaxPeFile = 256ll << 20;
// By its absolute path: a PATH of the user's (or a writable folder early in
// it) must not choose the program we run and whose output we trust.
const char kDpkgQuery[] = "/usr/bin/dpkg-query";

// Runs `argv` (argv[0] an absolute path) with no shell and stdin and stderr
// on /dev/null; gives its standard output when it exits with status 0.
std::optional<std::string> RunCapture(const std::vector<std::string>& argv) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return std::nullopt;
    TUniqueFd readEnd(pipeFds[0]);
    TUniqueFd writeEnd(pipeFds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    // Our copy of the write end must go, or the read below never sees end-of-file.
    writeEnd.Reset();
    if (spawned != 0) return std::nullopt;
    std::string output;
    std::array<char, 65536> buffer;
    while (output.size() < kMaxCommandOutput) {
        const ssize_t got = read(readEnd.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        output.append(buffer.data(), static_cast<size_t>(got));
    }
    // Closed before the wait: a program with more to say than we read then
    // ends on SIGPIPE instead of blocking on a full pipe.
    readEnd.Reset();
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return output;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
    return text;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

std::string FileName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::optional<std::string> ReadTextFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string text(kMaxTextFile, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(file.gcount()));
    return text;
}

// The package named on the line of dpkg-query -S output that lists exactly
// `path`: "pkg[:arch][, pkg...]: path".
std::optional<std::string> PackageOnSearchLine(std::string_view line, std::string_view path) {
    if (line.starts_with("diversion by") || line.starts_with("local diversion")) return std::nullopt;
    if (line.size() < path.size() + 2 || !line.ends_with(path)) return std::nullopt;
    const std::string_view packages = line.substr(0, line.size() - path.size());
    if (!packages.ends_with(": ")) return std::nullopt;
    std::string_view first = packages.substr(0, packages.size() - 2);
    first = Trim(first.substr(0, first.find(',')));
    if (first.empty()) return std::nullopt;
    return std::string(first);
}

// The Icon= of the package's desktop entry that runs `exeName`.
std::string PackageDesktopIcon(const std::string& package, const std::string& exeName) {
    const auto files = RunCapture({kDpkgQuery, "-L", package});
    if (!files) return {};
    for (std::string_view line : Lines(*files)) {
        line = Trim(line);
        if (!line.starts_with("/usr/share/applications/") || !line.ends_with(".desktop")) continue;
        const auto entry = ReadTextFile(std::string(line));
        if (!entry) continue;
        std::string icon = DesktopEntryIcon(*entry, exeName);
        if (!icon.empty()) return icon;
    }
    return {};
}

}  // namespace

std::vector<std::string> PackagePathCandidates(const std::string& path) {
    std::vector<std::string> forms{path};
    if (char* resolved = realpath(path.c_str(), nullptr)) {
        forms.emplace_back(resolved);
        std::free(resolved);
    }
    // Each directory at the root and its twin under /usr.
    static const std::array<std::pair<std::string_view, std::string_view>, 3> kMerged{
        {{"/bin/", "/usr/bin/"}, {"/sbin/", "/usr/sbin/"}, {"/lib", "/usr/lib"}}};
    std::vector<std::string> candidates;
    auto add = [&candidates](std::string candidate) {
        if (std::find(candidates.begin(), candidates.end(), candidate) == candidates.end())
            candidates.push_back(std::move(candidate));
    };
    for (const std::string& form : forms) {
        add(form);
        for (const auto& [root, usr] : kMerged) {
            if (form.starts_with(root)) add(std::string(usr) + form.substr(root.size()));
            else if (form.starts_with(usr)) add(std::string(root) + form.substr(usr.size()));
        }
    }
    return candidates;
}

std::optional<std::string> OwningPackage(const std::string& path) {
    for (const std::string& candidate : PackagePathCandidates(path)) {
        if (!candidate.starts_with('/')) continue;  // dpkg-query would take it for a pattern or an option
        const auto output = RunCapture({kDpkgQuery, "-S", candidate});
        if (!output) continue;
        for (std::string_view line : Lines(*output))
            if (auto package = PackageOnSearchLine(line, candidate)) return package;
    }
    return std::nullopt;
}

std::optional<TPackageInfo> PackageInfoOf(const std::string& path) {
    const auto owner = OwningPackage(path);
    if (!owner) return std::nullopt;
    const auto fields = RunCapture(
        {kDpkgQuery, "-W", "-f=${Package}\\n${Version}\\n${Maintainer}\\n${binary:Summary}\\n${Homepage}\\n", *owner});
    if (!fields) return std::nullopt;
    const auto lines = Lines(*fields);
    if (lines.size() < 5) return std::nullopt;
    TPackageInfo info;
    info.Package = Trim(lines[0]);
    info.Version = Trim(lines[1]);
    info.Maintainer = Trim(lines[2]);
    info.Summary = Trim(lines[3]);
    info.Homepage = Trim(lines[4]);
    if (const auto copyright = ReadTextFile("/usr/share/doc/" + info.Package + "/copyright"))
        info.Copyright = FirstCopyrightLine(*copyright);
    info.IconName = PackageDesktopIcon(*owner, FileName(path));
    return info;
}

std::string FirstCopyrightLine(std::string_view text) {
    for (std::string_view line : Lines(text)) {
        line = Trim(line);
        if (StartsWithNoCase(line, "copyright") && std::any_of(line.begin(), line.end(), [](char c) {
                return c >= '0' && c <= '9';
            })) {
            // A machine-readable file's "Copyright: <years> <holder>" field reads "Copyright <years> <holder>".
            if (line.size() > 10 && line[9] == ':') return "Copyright " + std::string(Trim(line.substr(10)));
            return std::string(line);
        }
    }
    return {};
}

std::string DesktopEntryIcon(std::string_view desktopEntry, std::string_view exeName) {
    bool inEntry = false;
    std::string_view exec;
    std::string_view icon;
    for (std::string_view line : Lines(desktopEntry)) {
        line = Trim(line);
        if (line.starts_with('[')) {
            inEntry = line == "[Desktop Entry]";
            continue;
        }
        if (!inEntry) continue;
        if (line.starts_with("Exec=")) exec = Trim(line.substr(5));
        else if (line.starts_with("Icon=")) icon = Trim(line.substr(5));
    }
    const std::string_view command = exec.substr(0, exec.find(' '));
    if (command.empty() || icon.empty() || FileName(command) != exeName) return {};
    return std::string(icon);
}

TVersionBlock PackageVersionBlock(const TPackageInfo& package, const std::string& path) {
    return TVersionBlock::FromStrings(0x0409, 0x04B0, {
                                                          {"ProductName", package.Package},
                                                          {"ProductVersion", package.Version},
                                                          {"FileVersion", package.Version},
                                                          {"CompanyName", package.Maintainer},
                                                          {"FileDescription", package.Summary},
                                                          {"Comments", package.Homepage},
                                                          {"InternalName", FileName(path)},
                                                          {"LegalCopyright", package.Copyright},
                                                      });
}

namespace {

std::optional<TVersionBlock> ReadPeFileVersionInfo(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::array<uint8_t, 2> head{};
    file.read(reinterpret_cast<char*>(head.data()), head.size());
    if (file.gcount() != 2 || !HasDosSignature(head)) return std::nullopt;
    file.seekg(0, std::ios::end);
    const std::streamsize size = file.tellg();
    if (size <= 0 || size > kMaxPeFile) return std::nullopt;
    std::vector<uint8_t> image(static_cast<size_t>(size));
    file.seekg(0);
    file.read(reinterpret_cast<char*>(image.data()), size);
    image.resize(static_cast<size_t>(file.gcount()));
    return ReadPeVersionInfo(image);
}

}  // namespace

std::optional<TVersionBlock> ReadFileVersionInfo(const std::string& path) {
    if (auto block = ReadPeFileVersionInfo(path)) return block;
    const auto package = PackageInfoOf(path);
    if (!package) return std::nullopt;
    return PackageVersionBlock(*package, path);
}

TProcessInfoFields ReadProcessInfoFields(const std::string& path) {
    TProcessInfoFields fields;
    if (auto block = ReadPeFileVersionInfo(path)) {
        fields.Values = ProcessInfoValues(TAppObj(std::move(block)));
        return fields;
    }
    if (const auto package = PackageInfoOf(path)) {
        fields.Values = ProcessInfoValues(TAppObj(PackageVersionBlock(*package, path)));
        fields.IconName = package->IconName;
    }
    return fields;
}

}  // namespace tarnwick
