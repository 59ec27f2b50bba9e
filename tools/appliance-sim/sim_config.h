// The appliance simulator's configuration: what the appliance reports, its attributes, and the
// fault knobs. Read from a small "key = value" file (see README.md).
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "protocol/message.h"

namespace velmora::sim {

struct AttributeKey {
    std::uint16_t group = 0;
    std::uint16_t id = 0;
    bool operator<(const AttributeKey& o) const {
        return group != o.group ? group < o.group : id < o.id;
    }
};

struct SimConfig {
    protocol::ApplianceMac mac{{0x00, 0x0C, 0x29, 0x12, 0x34, 0x56}};
    std::string product = "Velmora Appliance";
    std::string firmware = "7.4.0";
    std::string deviceName = "velmora-appliance";
    std::uint16_t port = 8888;
    std::string bindAddress = "0.0.0.0";
    std::string logPath;
    std::string offFile;
    std::map<AttributeKey, std::vector<std::uint8_t>> attributes;
    std::deque<std::string> scripts; // answers to the script-command query, one per query
    // Fault knobs.
    unsigned delayMs = 0;
    unsigned dropFirst = 0;
    bool wrongMac = false;
    bool wrongRequestId = false;
    std::uint32_t statusFlags = 0; // OR-ed into status replies (0x20000, 0x40000000)
    bool answerIdentity = true;
    bool shutdownPowersOff = false; // a shutdown request creates the off file
    unsigned notifyIntervalMs = 0;  // 0: notifications only on SIGUSR1
};

// Parses the text of a configuration file. False with a message naming the line on an error.
bool parseConfig(const std::string& text, SimConfig* config, std::string* error);
bool loadConfig(const std::string& path, SimConfig* config, std::string* error);

// "C-style" escapes in values: \n \r \t \\ \xNN.
std::vector<std::uint8_t> unescape(const std::string& value);

} // namespace velmora::sim
