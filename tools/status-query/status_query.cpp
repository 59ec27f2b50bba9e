// status-query: runs protocol operations against the appliance from the Windows side.
//
//   status-query [--log FILE] [--mac MAC] [COMMAND...]
//
// Commands run in order (default: "status"):
//   status             requestStatus; prints product, firmware, device name and address
//   target ADDR|none   setTarget (dotted address, or none for unknown)
//   pipe NAME          openPipe
//   query GROUP ID     queryAttribute (hexadecimal group and id); prints the value
//   set GROUP ID TEXT  setAttribute with an octet string
//   shutdown           sendShutdown
//   notify-wait MS     waits for a notification message from the appliance (window message)
// The exit code is 0 when every command succeeded, else the first failing command's result.
#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/tick.h"
#include "protocol/attributes.h"
#include "protocol/log_line.h"
#include "protocol/operations.h"
#include "protocol/request_channel.h"
#include "protocol/transport_win.h"

using namespace velmora::protocol;

namespace {

bool parseMac(const char* text, ApplianceMac* mac) {
    unsigned b[6];
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        mac->bytes[i] = static_cast<std::uint8_t>(b[i]);
    }
    return true;
}

bool parseAddress(const char* text, std::uint32_t* address) {
    if (std::strcmp(text, "none") == 0) {
        *address = kTargetUnknown;
        return true;
    }
    unsigned b[4];
    char tail;
    if (std::sscanf(text, "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &tail) != 4 || b[0] > 255 ||
        b[1] > 255 || b[2] > 255 || b[3] > 255) {
        return false;
    }
    const std::uint8_t bytes[4] = {static_cast<std::uint8_t>(b[0]), static_cast<std::uint8_t>(b[1]),
                                   static_cast<std::uint8_t>(b[2]),
                                   static_cast<std::uint8_t>(b[3])};
    std::memcpy(address, bytes, 4);
    return true;
}

bool parseHex16(const char* text, std::uint16_t* out) {
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 16);
    if (*text == '\0' || *end != '\0' || v > 0xFFFF) {
        return false;
    }
    *out = static_cast<std::uint16_t>(v);
    return true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: status-query [--log FILE] [--mac MAC] [status | target ADDR|none | pipe "
                 "NAME | query G I | set G I TEXT | shutdown | notify-wait MS]...\n");
    return 2;
}

HWND createMessageWindow() {
    WNDCLASSA cls{};
    cls.lpfnWndProc = ::DefWindowProcA;
    cls.hInstance = ::GetModuleHandleA(nullptr);
    cls.lpszClassName = "VelmoraStatusQuery";
    ::RegisterClassA(&cls);
    return ::CreateWindowExA(0, cls.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             cls.hInstance, nullptr);
}

} // namespace

int main(int argc, char** argv) {
    ApplianceMac mac = ApplianceMac::any();
    int first = 1;
    std::FILE* logFile = nullptr;
    while (first < argc && std::strncmp(argv[first], "--", 2) == 0) {
        if (first + 1 >= argc) {
            return usage();
        }
        if (std::strcmp(argv[first], "--log") == 0) {
            logFile =
                std::strcmp(argv[first + 1], "-") == 0 ? stdout : std::fopen(argv[first + 1], "a");
            if (logFile == nullptr) {
                std::fprintf(stderr, "status-query: cannot open %s\n", argv[first + 1]);
                return 2;
            }
            setLogStream(logFile);
        } else if (std::strcmp(argv[first], "--mac") == 0) {
            if (!parseMac(argv[first + 1], &mac)) {
                return usage();
            }
        } else {
            return usage();
        }
        first += 2;
    }
    attachLogFromEnvironment();

    std::unique_ptr<RequestChannel> channel;
    if (initRequestChannel(&channel) != 0) {
        std::fprintf(stderr, "status-query: cannot create the request channel\n");
        return 5;
    }
    HWND window = nullptr;

    const char* defaults[] = {"status"};
    char** commands = argv + first;
    int count = argc - first;
    if (count == 0) {
        commands = const_cast<char**>(defaults);
        count = 1;
    }
    int result = 0;
    auto fail = [&result](int rc) {
        if (result == 0) {
            result = rc;
        }
    };
    for (int i = 0; i < count; ++i) {
        const std::string command = commands[i];
        const int left = count - i - 1;
        if (command == "status") {
            StatusReply status;
            const int rc = requestStatus(*channel, mac, &status);
            if (rc == 0) {
                char address[16];
                std::printf("Product: %s\nFirmware: %s\nDevice name: %s\nAddress: %s\n",
                            status.product, status.firmware, status.deviceName,
                            formatIpv4(status.address, address));
            } else {
                std::printf("No answer (status %d)\n", rc);
                fail(rc);
            }
        } else if (command == "target" && left >= 1) {
            std::uint32_t address;
            if (!parseAddress(commands[++i], &address)) {
                return usage();
            }
            channel->setTarget(address);
        } else if (command == "pipe" && left >= 1) {
            channel->openPipe(commands[++i]);
        } else if (command == "query" && left >= 2) {
            AttributeId id;
            if (!parseHex16(commands[i + 1], &id.group) || !parseHex16(commands[i + 2], &id.id)) {
                return usage();
            }
            i += 2;
            static char text[attribute::kRouteListCapacity + 1];
            int length = attribute::kRouteListCapacity;
            const int rc = queryAttribute(*channel, mac, id, &length, text);
            if (rc == 0) {
                std::printf("%04X.%04X: %.*s\n", id.group, id.id, length, text);
            } else {
                std::printf("%04X.%04X: failed (status %d)\n", id.group, id.id, rc);
                fail(rc);
            }
        } else if (command == "set" && left >= 3) {
            AttributeId id;
            if (!parseHex16(commands[i + 1], &id.group) || !parseHex16(commands[i + 2], &id.id)) {
                return usage();
            }
            const char* text = commands[i + 3];
            i += 3;
            const int rc = setAttribute(*channel, mac, id.group, id.id,
                                        static_cast<int>(std::strlen(text)), text);
            std::printf("%04X.%04X set: status %d\n", id.group, id.id, rc);
            if (rc != 0) {
                fail(rc);
            }
        } else if (command == "shutdown") {
            const int rc = sendShutdown(*channel, mac);
            std::printf("Shutdown: status %d\n", rc);
            if (rc != 0) {
                fail(rc);
            }
        } else if (command == "notify-wait" && left >= 1) {
            const unsigned ms = static_cast<unsigned>(std::strtoul(commands[++i], nullptr, 10));
            if (window == nullptr) {
                window = createMessageWindow();
                channel->setWindow(window);
            }
            const std::uint64_t deadline = velmora::tickMs() + ms;
            bool seen = false;
            while (!seen && velmora::tickMs() < deadline) {
                MSG msg;
                while (::PeekMessageA(&msg, window, 0, 0, PM_REMOVE)) {
                    seen = seen || msg.message == kWmAppliance;
                }
                ::Sleep(10);
            }
            std::printf("Notification: %s\n", seen ? "received" : "none");
            if (!seen) {
                fail(22);
            }
        } else {
            return usage();
        }
        std::fflush(stdout);
    }
    if (window != nullptr) {
        channel->setWindow(nullptr);
        ::DestroyWindow(window);
    }
    channel.reset();
    if (logFile != nullptr && logFile != stdout) {
        setLogStream(nullptr);
        std::fclose(logFile);
    }
    return result;
}
