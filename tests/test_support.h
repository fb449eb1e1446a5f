#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "library/AppDirectories.h"

namespace pindle::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "pindle-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Directories of a program whose PINDLE_CAPTURE_HOME is this folder, created.
    AppDirectories appDirectories() const {
        auto dirs = AppDirectories::fromEnvironment(
            [this](const char* name) -> const char* {
                return std::string(name) == "PINDLE_CAPTURE_HOME" ? path_.c_str() : nullptr;
            },
            1234);
        (void)dirs.create();
        return dirs;
    }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary);
    out << content;
}

inline std::string readFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace pindle::test
