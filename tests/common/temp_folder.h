// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>

namespace tarnwick::testing {

class TTempFolder {
public:
    // A name no other folder has: created only when nothing of that name is
    // there (as mkdtemp does, which not every system has).
    TTempFolder() {
        std::random_device seed;
        std::mt19937_64 random(seed());
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[32];
            std::snprintf(name, sizeof name, "tarnwick-test-%012llx",
                          static_cast<unsigned long long>(random() & 0xFFFFFFFFFFFFull));
            const std::string path = (base / name).string();
            std::error_code ec;
            if (std::filesystem::create_directory(path, ec) && !ec) {
                Path_ = path;
                return;
            }
        }
        throw std::runtime_error("no temporary folder could be made");
    }
    ~TTempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path_, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::string& Path() const { return Path_; }
    std::string File(const std::string& name) const { return Path_ + "/" + name; }

    // Writes `text` to the file `name` in the folder, byte for byte.
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream out(File(name), std::ios::binary);
        out << text;
        return File(name);
    }

    // The bytes of the file `name` in the folder.
    std::string Read(const std::string& name) const {
        std::ifstream in(File(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string Path_;
};

}  // namespace tarnwick::testing
