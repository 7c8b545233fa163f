#include "platform/linux/helper_location.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "platform/program_environment.h"
#include "common/result.h"

namespace tarnwick {

namespace {

constexpr const char* kHelperName = "tarnwick-helper";

// Whether only root and `caller` may change what `status` describes: fails
// with how others may ("may be written by others"). With an access control
// list the group bits are its mask, which bounds what every named user and
// group may do, so the mode alone tells whether anyone else may write.
TStatus CheckOwnedHere(const struct stat& status, uid_t caller, bool stickyWritableIsFine) {
    if (status.st_uid != 0 && status.st_uid != caller)
        return TFailure{0, "belongs to another user (uid " + std::to_string(status.st_uid) + ")"};
    const bool writable = (status.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (writable && !(stickyWritableIsFine && (status.st_mode & S_ISVTX) != 0))
        return TFailure{0, "may be written by others"};
    return {};
}

// `path` with its symbolic links resolved; fails when it cannot be (ENOENT:
// there is no such file).
TResult<std::string> Resolve(const std::string& path) {
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) == nullptr) return FailureFromErrno("resolving " + path);
    return std::string(resolved);
}

}  // namespace

TStatus CheckTrusted(const std::string& path, uid_t caller) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) return FailureFromErrno("it cannot be examined");
    if (!S_ISREG(status.st_mode)) return TFailure{0, "it is not a regular file"};
    if (TStatus owned = CheckOwnedHere(status, caller, false); !owned)
        return TFailure{0, "it " + owned.Failure().Text()};
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    for (bool own = true;; own = false) {
        const std::string named = (own ? "its folder " : "the folder ") + folder.string();
        if (lstat(folder.c_str(), &status) != 0) return FailureFromErrno(named + " cannot be examined");
        if (TStatus owned = CheckOwnedHere(status, caller, !own); !owned)
            return TFailure{0, named + " " + owned.Failure().Text()};
        if (folder == folder.root_path() || folder.empty()) return {};
        folder = folder.parent_path();
    }
}

THelperLocation LocateHelperProgram(const std::string& exeDir, uid_t caller) {
    THelperLocation location;
    const std::filesystem::path dir(exeDir);
    if (!dir.is_absolute()) {
        location.Refused = "the folder of this program is unknown";
        return location;
    }
    const std::string installed = (dir.parent_path() / "libexec" / "tarnwick" / kHelperName).string();
    const std::pair<std::string, std::string> candidates[] = {
        {(dir / kHelperName).string(), "beside the program"},
        {installed, "installed"},
    };
    for (const auto& [path, where] : candidates) {
        const TResult<std::string> resolved = Resolve(path);
        if (!resolved && resolved.Failure().Errno == ENOENT) {
            // Started anyway, to be told in the words of a missing helper.
            if (path == installed) location.Program = installed;
            continue;
        }
        const TStatus trusted = resolved ? CheckTrusted(*resolved, caller)
                                         : TStatus(TFailure{resolved.Failure().Errno, "it cannot be found"});
        if (trusted) {
            location.Program = *resolved;
            return location;
        }
        if (!location.Refused.empty()) location.Refused += "; ";
        location.Refused +=
            std::string(kHelperName) + " " + where + " (" + path + ") was not used: " + trusted.Failure().Text();
    }
    return location;
}

THelperLocation FindHelperProgram() {
    if (const char* chosen = std::getenv("TARNWICK_HELPER"); chosen != nullptr && *chosen != '\0') return {chosen, {}};
    return LocateHelperProgram(ExecutableDirectory(), geteuid());
}

}  // namespace tarnwick
