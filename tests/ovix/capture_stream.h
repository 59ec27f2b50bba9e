// Test helpers: a temporary stream that collects what the program writes (its reports or its
// standard output), and a scoped attachment of the report stream to one.
#pragma once
#include <cstdio>
#include <string>

#include "ovix/log.h"

namespace velmora::ovix::testing {

class TextSink {
public:
    TextSink() : stream_(std::tmpfile()) {}
    ~TextSink() {
        if (stream_ != nullptr) {
            std::fclose(stream_);
        }
    }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    std::FILE* stream() const { return stream_; }
    std::string text() const {
        std::fflush(stream_);
        std::string all;
        std::rewind(stream_);
        char chunk[1024];
        std::size_t n;
        while ((n = std::fread(chunk, 1, sizeof chunk, stream_)) > 0) {
            all.append(chunk, n);
        }
        std::fseek(stream_, 0, SEEK_END);
        return all;
    }
    bool has(const std::string& piece) const { return text().find(piece) != std::string::npos; }

private:
    std::FILE* stream_;
};

// Reports go to a sink for the life of this object; debug is off again afterwards.
class ReportCapture : public TextSink {
public:
    ReportCapture() { set_log_stream(stream()); }
    ~ReportCapture() {
        set_log_stream(nullptr);
        set_debug(false);
    }
};

} // namespace velmora::ovix::testing
