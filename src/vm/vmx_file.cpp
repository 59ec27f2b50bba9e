#include "vm/vmx_file.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace velmora::vm {

const char* const kConnectionTypes[kConnectionTypeCount] = {"bridged", "nat", "hostonly", "custom"};

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

int lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

// Reads a number written as a run of hexadecimal digits at p; it counts only when the run is
// exactly two digits long. Advances p past the run.
bool readTwoDigitHex(const char*& p, std::uint8_t* out) {
    int digits = 0;
    unsigned value = 0;
    while (hexValue(p[digits]) >= 0) {
        value = (value << 4) | static_cast<unsigned>(hexValue(p[digits]));
        ++digits;
        if (digits > 2) {
            return false;
        }
    }
    if (digits != 2) {
        return false;
    }
    *out = static_cast<std::uint8_t>(value & 0xFF);
    p += 2;
    return true;
}

// One line as fgets with a 256-byte buffer would give it, but with its length so that bytes after
// an embedded zero are copied, not lost. False at the end of the file.
bool readLine(std::FILE* f, char (&buffer)[kVmxLineBuffer], std::size_t* length) {
    std::size_t n = 0;
    while (n + 1 < sizeof buffer) {
        const int c = std::getc(f);
        if (c == EOF) {
            break;
        }
        buffer[n++] = static_cast<char>(c);
        if (c == '\n') {
            break;
        }
    }
    buffer[n] = '\0';
    *length = n;
    return n > 0;
}

} // namespace

bool lineMatchesKey(const char* line, const char* key) {
    const std::size_t keyLength = std::strlen(key);
    for (std::size_t i = 0; i < keyLength; ++i) {
        if (line[i] == '\0' || lowerAscii(static_cast<unsigned char>(line[i])) !=
                                   lowerAscii(static_cast<unsigned char>(key[i]))) {
            return false;
        }
    }
    const char next = line[keyLength];
    return next == ' ' || next == '=' || next == '\0';
}

bool extractQuotedValue(const char* line, char* out, std::size_t capacity) {
    const char* first = std::strchr(line, '"');
    if (first == nullptr || capacity == 0) {
        return false;
    }
    const char* second = std::strchr(first + 1, '"');
    if (second == nullptr) {
        return false;
    }
    std::size_t length = static_cast<std::size_t>(second - (first + 1));
    if (length > capacity - 1) {
        length = capacity - 1;
    }
    std::memcpy(out, first + 1, length);
    out[length] = '\0';
    return true;
}

bool parseGeneratedAddress(const char* value, std::uint8_t mac[6]) {
    std::uint8_t bytes[6];
    const char* p = value;
    for (std::uint8_t& b : bytes) {
        if (!readTwoDigitHex(p, &b)) {
            return false;
        }
        if (*p == ':') {
            ++p;
        }
    }
    std::memcpy(mac, bytes, sizeof bytes);
    return true;
}

bool parseUuidValue(const char* value, std::uint8_t uuid[16]) {
    const char* p = value;
    while (*p != '\0' && hexValue(*p) < 0) {
        ++p;
    }
    std::uint8_t bytes[16];
    for (std::uint8_t& b : bytes) {
        if (!readTwoDigitHex(p, &b)) {
            return false;
        }
        if (*p == ' ' || *p == '-') {
            ++p;
        }
    }
    std::memcpy(uuid, bytes, sizeof bytes);
    return true;
}

VBoxAdapterLine parseVBoxAdapterLine(const char* line) {
    static constexpr char kAdapter[] = "<Adapter slot=\"";
    static constexpr char kMac[] = "MACAddress=\"";
    VBoxAdapterLine result;
    const char* at = std::strstr(line, kAdapter);
    if (at == nullptr) {
        return result;
    }
    const char* p = at + sizeof kAdapter - 1;
    if (*p < '0' || *p > '9') {
        return result;
    }
    long slot = 0;
    while (*p >= '0' && *p <= '9') {
        if (slot <= 1) { // anything above 1 is rejected anyway; stop growing
            slot = slot * 10 + (*p - '0');
        }
        ++p;
    }
    if (slot > 1) {
        return result;
    }
    const char* mac = std::strstr(p, kMac);
    if (mac == nullptr) {
        return result;
    }
    result.counts = true;
    result.slot = static_cast<int>(slot);
    p = mac + sizeof kMac - 1;
    std::uint8_t bytes[6];
    for (std::uint8_t& b : bytes) {
        // A pair is up to two hexadecimal digits and needs its second character present.
        if (p[0] == '\0' || p[1] == '\0') {
            return result;
        }
        const int hi = hexValue(p[0]);
        if (hi < 0) {
            return result;
        }
        const int lo = hexValue(p[1]);
        b = static_cast<std::uint8_t>(lo < 0 ? hi : (hi << 4) | lo);
        p += 2;
    }
    std::memcpy(result.mac, bytes, sizeof bytes);
    result.macRead = true;
    return result;
}

int parseVBoxMachineUuidLine(const char* line, std::uint8_t uuid[16]) {
    static constexpr char kMachine[] = "<Machine uuid=\"{";
    const char* at = std::strstr(line, kMachine);
    if (at == nullptr) {
        return -1;
    }
    const char* p = at + sizeof kMachine - 1;
    std::uint8_t bytes[16];
    for (std::uint8_t& b : bytes) {
        const int hi = hexValue(p[0]);
        if (hi < 0) {
            return 0;
        }
        const int lo = hexValue(p[1]);
        if (lo < 0) {
            return 0;
        }
        b = static_cast<std::uint8_t>((hi << 4) | lo);
        p += 2;
        if (*p == '-') {
            ++p;
        }
    }
    std::memcpy(uuid, bytes, sizeof bytes);
    return 1;
}

int connectionTypeIndex(const char* value) {
    if (value == nullptr) {
        return 0;
    }
    for (int i = 0; i < kConnectionTypeCount; ++i) {
        if (std::strcmp(value, kConnectionTypes[i]) == 0) {
            return i;
        }
    }
    return 0;
}

const char* firstDigit(const char* text) {
    if (text == nullptr) {
        return nullptr;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p >= '0' && *p <= '9') {
            return p;
        }
    }
    return nullptr;
}

int comPortNumber(const char* text) {
    const char* p = firstDigit(text);
    if (p == nullptr) {
        return 0;
    }
    long long n = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        n = n * 10 + (*p - '0');
        if (n > INT_MAX) {
            return INT_MAX;
        }
    }
    return static_cast<int>(n);
}

bool readSettingInto(const char* path, const char* key, char* out, std::size_t capacity) {
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) {
        return false;
    }
    char line[kVmxLineBuffer];
    std::size_t length = 0;
    bool found = false;
    while (readLine(f, line, &length)) {
        if (lineMatchesKey(line, key)) {
            // The first matching line decides, even when its quotes are missing.
            found = extractQuotedValue(line, out, capacity);
            break;
        }
    }
    std::fclose(f);
    return found;
}

const char* readSetting(const char* path, const char* key) {
    static char value[kVmxLineBuffer];
    return readSettingInto(path, key, value, sizeof value) ? value : nullptr;
}

int writeSetting(const char* path, const char* key, const char* value) {
    std::FILE* in = std::fopen(path, "r");
    if (in == nullptr) {
        return 0;
    }
    char tmpPath[260];
    const int n = std::snprintf(tmpPath, sizeof tmpPath, "%s.tmp", path);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof tmpPath) {
        // A cut name would be some other file's name; write nothing rather than clobber it.
        std::fclose(in);
        return 0;
    }
    std::FILE* out = std::fopen(tmpPath, "w");
    if (out == nullptr) {
        std::fclose(in);
        return 0;
    }

    bool changed = false;
    bool ok = true;
    char line[kVmxLineBuffer];
    std::size_t length = 0;
    std::size_t lastLength = 0;
    bool lastEndsLine = false;
    while (readLine(in, line, &length)) {
        lastLength = length;
        lastEndsLine = line[length - 1] == '\n';
        if (lineMatchesKey(line, key)) {
            changed = true;
            if (value != nullptr && std::fprintf(out, "%s = \"%s\"\n", key, value) < 0) {
                ok = false;
            }
        } else if (std::fwrite(line, 1, length, out) != length) {
            ok = false;
        }
    }
    if (std::ferror(in)) {
        ok = false; // a partial copy must never replace the file
    }
    std::fclose(in);

    if (value != nullptr && !changed) {
        if ((lastLength == 0 || !lastEndsLine) && std::fputc('\n', out) == EOF) {
            ok = false;
        }
        if (std::fprintf(out, "%s = \"%s\"\n", key, value) < 0) {
            ok = false;
        }
        changed = true;
    }
    if (changed && ok && !flushFileToDisk(out)) {
        ok = false;
    }
    if (std::fclose(out) != 0) {
        ok = false;
    }
    if (!changed || !ok) {
        std::remove(tmpPath);
        return 0;
    }
    // On failure the configuration keeps its old content and the ".tmp" stays for inspection.
    (void)replaceFileAtomically(tmpPath, path);
    return 1;
}

int readApplianceMac(const char* path, int backendType, std::uint8_t mac[6],
                     char pipeName[kPipeNameSize]) {
    if (backendType != kBackendTypeVBox) {
        char value[kVmxLineBuffer];
        if (!readSettingInto(path, vmxkey::kGeneratedAddress, value, sizeof value)) {
            return kErrorNotFound;
        }
        return parseGeneratedAddress(value, mac) ? 0 : kErrorNotFound;
    }
    std::FILE* f = std::fopen(kVBoxMachineFile, "r");
    if (f == nullptr) {
        return kErrorNotFound;
    }
    int result = kErrorNotFound;
    char line[kVmxLineBuffer];
    std::size_t length = 0;
    while (readLine(f, line, &length)) {
        const VBoxAdapterLine adapter = parseVBoxAdapterLine(line);
        if (!adapter.counts) {
            continue;
        }
        if (adapter.slot == 0) {
            if (adapter.macRead) {
                std::memcpy(mac, adapter.mac, 6);
                result = 0;
            }
            continue;
        }
        if (adapter.macRead) {
            std::snprintf(pipeName, kPipeNameSize, "%02x%02x%02x%02x%02x%02x", adapter.mac[0],
                          adapter.mac[1], adapter.mac[2], adapter.mac[3], adapter.mac[4],
                          adapter.mac[5]);
        }
        break;
    }
    std::fclose(f);
    return result;
}

int readVmUuid(const char* path, int backendType, std::uint8_t out[16]) {
    char value[kVmxLineBuffer];
    if (readSettingInto(path, vmxkey::kUuidBios, value, sizeof value) ||
        readSettingInto(path, vmxkey::kUuidLocation, value, sizeof value)) {
        if (parseUuidValue(value, out)) {
            return 0;
        }
    }
    if (backendType != kBackendTypeVBox) {
        return kErrorNotFound;
    }
    std::FILE* f = std::fopen(kVBoxMachineFile, "r");
    if (f == nullptr) {
        return kErrorNotFound;
    }
    int result = kErrorNotFound;
    char line[128];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        const int r = parseVBoxMachineUuidLine(line, out);
        if (r >= 0) {
            result = r == 1 ? 0 : kErrorNotFound;
            break;
        }
    }
    std::fclose(f);
    return result;
}

int getConnectionType(const char* path) {
    char value[kVmxLineBuffer];
    if (!readSettingInto(path, vmxkey::kConnectionType, value, sizeof value)) {
        return 0;
    }
    return connectionTypeIndex(value);
}

int setConnectionType(const char* path, int index) {
    if (index < 0 || index >= kConnectionTypeCount) {
        return 0;
    }
    return writeSetting(path, vmxkey::kConnectionType, kConnectionTypes[index]);
}

} // namespace velmora::vm
