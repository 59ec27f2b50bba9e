// A fresh folder under the system's temporary directory, removed with everything in it at the end
// of the test. The VMX operations then run on real files, natively and under Wine.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velmora::vm::testing {

class TempDir {
public:
    TempDir() {
        namespace fs = std::filesystem;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int i = 0; i < 100; ++i) {
            path_ = fs::temp_directory_path() /
                    ("velmora-vm-" + std::to_string(stamp) + "-" + std::to_string(i));
            std::error_code ec;
            if (fs::create_directory(path_, ec)) {
                return;
            }
        }
        ADD_FAILURE() << "cannot create a temporary folder";
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// Text mode on both sides, so line ends compare equal whatever the platform writes.
inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}
inline std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
inline bool exists(const std::string& path) {
    return std::filesystem::exists(path);
}

// Makes a folder the current directory for the lifetime of the object.
class CurrentDir {
public:
    explicit CurrentDir(const std::filesystem::path& dir)
        : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~CurrentDir() {
        std::error_code ec;
        std::filesystem::current_path(saved_, ec);
    }
    CurrentDir(const CurrentDir&) = delete;
    CurrentDir& operator=(const CurrentDir&) = delete;

private:
    std::filesystem::path saved_;
};

} // namespace velmora::vm::testing
