#include "sim_config.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace velmora::sim {
namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) {
        return {};
    }
    const auto e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

bool parseNumber(const std::string& text, unsigned long long max, unsigned long long* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || v > max) {
        return false;
    }
    *out = v;
    return true;
}

bool parseMac(const std::string& text, protocol::ApplianceMac* mac) {
    unsigned b[6];
    char tail;
    if (std::sscanf(text.c_str(), "%x%*[:-]%x%*[:-]%x%*[:-]%x%*[:-]%x%*[:-]%x%c", &b[0], &b[1],
                    &b[2], &b[3], &b[4], &b[5], &tail) != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        if (b[i] > 0xFF) {
            return false;
        }
        mac->bytes[i] = static_cast<std::uint8_t>(b[i]);
    }
    return true;
}

const std::map<std::string, AttributeKey>& attributeNames() {
    static const std::map<std::string, AttributeKey> names = {
        {"serial_number", {0x0200, 0x0280}},     {"route_list_1", {0x0200, 0x02B8}},
        {"route_list_2", {0x0200, 0x02B9}},      {"quorvane_status", {0xF000, 0xF010}},
        {"ostrel_connection", {0xF000, 0xF011}}, {"serial_config", {0xF000, 0xF091}},
        {"usbip_config", {0xF000, 0xF093}},      {"layer2_config", {0xF000, 0xF094}},
    };
    return names;
}

} // namespace

std::vector<std::uint8_t> unescape(const std::string& value) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char c = value[i];
        if (c != '\\' || i + 1 == value.size()) {
            out.push_back(static_cast<std::uint8_t>(c));
            continue;
        }
        c = value[++i];
        switch (c) {
        case 'n':
            out.push_back('\n');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'x':
            if (i + 2 < value.size() + 0 &&
                std::isxdigit(static_cast<unsigned char>(value[i + 1])) &&
                std::isxdigit(static_cast<unsigned char>(value[i + 2]))) {
                out.push_back(
                    static_cast<std::uint8_t>(std::stoul(value.substr(i + 1, 2), nullptr, 16)));
                i += 2;
            } else {
                out.push_back('x');
            }
            break;
        default:
            out.push_back(static_cast<std::uint8_t>(c));
            break;
        }
    }
    return out;
}

bool parseConfig(const std::string& text, SimConfig* config, std::string* error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        const std::string stripped = trim(line);
        if (stripped.empty() || stripped[0] == '#') {
            continue;
        }
        const auto eq = stripped.find('=');
        if (eq == std::string::npos) {
            *error = "line " + std::to_string(number) + ": expected key = value";
            return false;
        }
        const std::string key = trim(stripped.substr(0, eq));
        const std::string value = trim(stripped.substr(eq + 1));
        unsigned long long n = 0;
        bool ok = true;
        if (key == "mac") {
            ok = parseMac(value, &config->mac);
        } else if (key == "product") {
            config->product = value;
        } else if (key == "firmware") {
            config->firmware = value;
        } else if (key == "device_name") {
            config->deviceName = value;
        } else if (key == "port") {
            ok = parseNumber(value, 65535, &n) && n > 0;
            config->port = static_cast<std::uint16_t>(n);
        } else if (key == "bind") {
            config->bindAddress = value;
        } else if (key == "log") {
            config->logPath = value;
        } else if (key == "off_file") {
            config->offFile = value;
        } else if (key == "script") {
            const auto bytes = unescape(value);
            config->scripts.emplace_back(bytes.begin(), bytes.end());
        } else if (key == "delay_ms") {
            ok = parseNumber(value, 600000, &n);
            config->delayMs = static_cast<unsigned>(n);
        } else if (key == "drop_first") {
            ok = parseNumber(value, 1000000, &n);
            config->dropFirst = static_cast<unsigned>(n);
        } else if (key == "wrong_mac") {
            ok = parseNumber(value, 1, &n);
            config->wrongMac = n != 0;
        } else if (key == "wrong_request_id") {
            ok = parseNumber(value, 1, &n);
            config->wrongRequestId = n != 0;
        } else if (key == "status_flags") {
            ok = parseNumber(value, 0xFFFFFFFFu, &n);
            config->statusFlags = static_cast<std::uint32_t>(n);
        } else if (key == "answer_identity") {
            ok = parseNumber(value, 1, &n);
            config->answerIdentity = n != 0;
        } else if (key == "shutdown_powers_off") {
            ok = parseNumber(value, 1, &n);
            config->shutdownPowersOff = n != 0;
        } else if (key == "notify_interval_ms") {
            ok = parseNumber(value, 3600000, &n);
            config->notifyIntervalMs = static_cast<unsigned>(n);
        } else if (key.rfind("attr.", 0) == 0) {
            // attr.GROUP.ID with hexadecimal numbers, e.g. attr.F000.F010
            unsigned long long group = 0;
            unsigned long long id = 0;
            const std::string rest = key.substr(5);
            const auto dot = rest.find('.');
            ok = dot != std::string::npos &&
                 parseNumber("0x" + rest.substr(0, dot), 0xFFFF, &group) &&
                 parseNumber("0x" + rest.substr(dot + 1), 0xFFFF, &id);
            if (ok) {
                config->attributes[{static_cast<std::uint16_t>(group),
                                    static_cast<std::uint16_t>(id)}] = unescape(value);
            }
        } else if (auto it = attributeNames().find(key); it != attributeNames().end()) {
            config->attributes[it->second] = unescape(value);
        } else {
            *error = "line " + std::to_string(number) + ": unknown key \"" + key + "\"";
            return false;
        }
        if (!ok) {
            *error = "line " + std::to_string(number) + ": bad value for \"" + key + "\"";
            return false;
        }
    }
    return true;
}

bool loadConfig(const std::string& path, SimConfig* config, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    std::stringstream text;
    text << file.rdbuf();
    return parseConfig(text.str(), config, error);
}

} // namespace velmora::sim
