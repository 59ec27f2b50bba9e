// The appliance's side of the protocol, without sockets: one received datagram in, the reply
// datagram (if any) and the log lines out. The program around it owns the socket and the timing.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "sim_config.h"

namespace velmora::sim {

struct Outcome {
    std::vector<std::uint8_t> reply; // empty: no answer
    std::vector<std::string> log;
    bool shutdown = false; // a shutdown request was answered
};

class Responder {
public:
    explicit Responder(SimConfig config) : config_(std::move(config)) {}

    // `source` in network order; `destination` is how the datagram was addressed (for the log).
    Outcome handle(const std::uint8_t* bytes, int length, std::uint32_t source,
                   const std::string& destination);
    // An "IMCN" notification datagram.
    std::vector<std::uint8_t> notification(std::string* logLine);

    SimConfig& config() { return config_; }
    unsigned requestsSeen() const { return requestsSeen_; }

private:
    SimConfig config_;
    unsigned requestsSeen_ = 0;
};

std::string dottedAddress(std::uint32_t networkOrder);
// One-line description of a parsed message, e.g. "IMCC flags=0x00000382 mac=... kind=status".
std::string describe(const protocol::Message& message);

} // namespace velmora::sim
