// Test surroundings: unique adapter names, a private folder for the stop objects (Linux), and a
// temporary working folder where capture files are written.
#pragma once
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>

#include "ovix/tap.h"

#ifdef _WIN32
#include <process.h>
#define OVIX_TEST_PID _getpid()
#else
#include <unistd.h>
#define OVIX_TEST_PID getpid()
#endif

namespace velmora::ovix::testing {

inline std::string unique_name(const char* prefix) {
    static int counter = 0;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count() % 1000000;
    return std::string(prefix) + std::to_string(OVIX_TEST_PID % 100000) + "x" +
           std::to_string(stamp) + "x" + std::to_string(++counter);
}

class TempFolder {
public:
    TempFolder() {
        namespace fs = std::filesystem;
        for (int i = 0; i < 100; ++i) {
            path_ = fs::temp_directory_path() / unique_name("ovix-test-");
            std::error_code ec;
            if (fs::create_directory(path_, ec)) {
                return;
            }
        }
        ADD_FAILURE() << "cannot create a temporary folder";
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The working folder is a fresh temporary one for the life of this object.
class InTempFolder : public TempFolder {
public:
    InTempFolder() : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(path());
    }
    ~InTempFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

#ifdef _WIN32
class StopFolder { // named events need no folder
public:
    StopFolder() {}
    ~StopFolder() {}
};
#else
class StopFolder : public TempFolder {
public:
    StopFolder() { set_stop_folder((path() / "run").string().c_str()); }
    ~StopFolder() { set_stop_folder(nullptr); }
};
#endif

} // namespace velmora::ovix::testing
