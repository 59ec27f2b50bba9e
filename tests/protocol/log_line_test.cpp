#include "protocol/log_line.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace velmora::protocol {
namespace {

class LogLine : public ::testing::Test {
protected:
    void SetUp() override {
        stream_ = std::tmpfile();
        ASSERT_NE(stream_, nullptr);
        setLogStream(stream_);
    }
    void TearDown() override {
        setLogStream(nullptr);
        if (stream_ != nullptr) {
            std::fclose(stream_);
        }
    }
    // What was written so far; the stream was flushed by logLine itself.
    std::string written() {
        std::string text;
        std::rewind(stream_);
        char chunk[256];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, stream_)) > 0) {
            text.append(chunk, n);
        }
        std::fseek(stream_, 0, SEEK_END);
        return text;
    }
    std::FILE* stream_ = nullptr;
};

TEST_F(LogLine, OnePrefixPerOutputLine) {
    logLine("Opening fallback socket [%d]\n", 312);
    logLine("Connecting ");
    logLine("to %s", "198.18.0.2");
    logLine("\n");
    logLine("%s: %d\n", "Receive", -1);
    const std::regex expected("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Opening fallback socket \\[312\\]\n"
                              "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Connecting to 198\\.18\\.0\\.2\n"
                              "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Receive: -1\n");
    const std::string text = written();
    EXPECT_TRUE(std::regex_match(text, expected)) << text;
}

TEST_F(LogLine, NothingWithoutAStreamAndANewStreamStartsALine) {
    logLine("half a line");
    setLogStream(nullptr);
    logLine("lost %d\n", 1);
    setLogStream(stream_);
    logLine("next\n");
    const std::string text = written();
    EXPECT_EQ(text.find("lost"), std::string::npos);
    EXPECT_TRUE(std::regex_match(text, std::regex("\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d half a line"
                                                  "\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d next\n")))
        << text;
}

} // namespace
} // namespace velmora::protocol
