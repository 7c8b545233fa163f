#include "common/file_names.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "common/text_util.h"

namespace tarnwick {

std::string FindFileIgnoringCase(const std::string& folder, const std::string& name) {
    namespace fs = std::filesystem;
    const fs::path dir(folder);
    std::error_code error;
    // A folder of the exact name is no file: a variant that is one wins over it.
    if (fs::exists(dir / name, error) && !fs::is_directory(dir / name, error)) return (dir / name).string();

    const std::string wanted = AsciiLowerCase(name);
    std::optional<std::string> found;
    for (fs::directory_iterator it(dir, error), end; !error && it != end; it.increment(error)) {
        std::error_code kindError;
        if (it->is_directory(kindError)) continue;
        const std::string candidate = it->path().filename().string();
        if (AsciiLowerCase(candidate) == wanted && (!found || candidate < *found)) found = candidate;
    }
    return (dir / found.value_or(name)).string();
}

}  // namespace tarnwick
