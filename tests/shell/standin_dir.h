// A fresh folder holding copies of the stand-in program under the names a test needs, with their
// scenario files and one shared command-line log. The folder becomes the current directory for
// the test (the program's working directory is the VMX file's folder) and is removed at the end.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velmora::shell::testing {

inline std::filesystem::path standinBinary(bool gui = false) {
    const char* bin = std::getenv("VELMORA_BINARY_DIR");
    std::filesystem::path dir = bin != nullptr ? bin : ".";
    return dir / "tests" / "standins" / (gui ? "standin-gui.exe" : "standin.exe");
}

class StandinDir {
public:
    StandinDir() {
        namespace fs = std::filesystem;
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        for (int i = 0; i < 100; ++i) {
            path_ = fs::temp_directory_path() /
                    ("velmora-shell-" + std::to_string(stamp) + "-" + std::to_string(i));
            std::error_code ec;
            if (fs::create_directory(path_, ec)) {
                break;
            }
        }
        char cwd[MAX_PATH];
        ::GetCurrentDirectoryA(sizeof cwd, cwd);
        saved_ = cwd;
        ::SetCurrentDirectoryA(path_.string().c_str());
        ::SetEnvironmentVariableA("VELMORA_STANDIN_LOG", log().c_str());
    }
    ~StandinDir() {
        ::SetEnvironmentVariableA("VELMORA_STANDIN_LOG", nullptr);
        ::SetCurrentDirectoryA(saved_.c_str());
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    StandinDir(const StandinDir&) = delete;
    StandinDir& operator=(const StandinDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string log() const { return file("standin.log"); }

    // Copies the stand-in as `name` (e.g. "chrome.exe") with a scenario; returns its full path.
    std::string add(const std::string& name, const std::string& scenario = "", bool gui = false) {
        std::error_code ec;
        std::filesystem::copy_file(standinBinary(gui), path_ / name,
                                   std::filesystem::copy_options::overwrite_existing, ec);
        EXPECT_FALSE(ec) << "copy " << standinBinary(gui) << ": " << ec.message();
        const std::string stem = std::filesystem::path(name).stem().string();
        std::ofstream(path_ / (stem + ".scenario"), std::ios::binary) << scenario;
        return file(name);
    }

    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::vector<std::string> logLines() const {
        std::vector<std::string> lines;
        std::istringstream in(read(log()));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    // Waits (up to 15 s) until the log has at least `count` lines.
    std::vector<std::string> waitForLogLines(std::size_t count) const {
        for (int i = 0; i < 300; ++i) {
            auto lines = logLines();
            if (lines.size() >= count) {
                return lines;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return logLines();
    }

    // Names of the files in the folder that begin with `prefix`.
    std::vector<std::string> filesStartingWith(const std::string& prefix) const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_)) {
            const std::string n = e.path().filename().string();
            if (n.rfind(prefix, 0) == 0) {
                names.push_back(n);
            }
        }
        return names;
    }

private:
    std::filesystem::path path_;
    std::string saved_;
};

} // namespace velmora::shell::testing
