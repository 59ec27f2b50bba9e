#include "shell/status_text.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "resource.h"

namespace velmora::shell {
namespace {

bool has(const char* text) {
    return text != nullptr && text[0] != '\0';
}

const char* orEmpty(const char* text) {
    return text != nullptr ? text : "";
}

// Appends formatted text at the end of a zero-terminated buffer, cutting what does not fit.
void append(char* buffer, std::size_t size, const char* format, ...) {
    const std::size_t used = std::strlen(buffer);
    if (used + 1 >= size) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer + used, size - used, format, args);
    va_end(args);
}

void dotted(std::uint32_t addressNetworkOrder, char (&out)[16]) {
    unsigned char b[4];
    std::memcpy(b, &addressNetworkOrder, sizeof b);
    std::snprintf(out, sizeof out, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

} // namespace

const char* stateName(int state) {
    switch (state) {
    case 3:
        return "Stopped";
    case 4:
        return "Starting...";
    case 5:
        return "Running";
    default:
        return "VMware service not ready";
    }
}

int iconResourceForSlot(int slot) {
    switch (slot) {
    case kSlotRunning:
        return IDI_RUNNING;
    case kSlotRunningQuorvane:
        return IDI_RUNNING_QV;
    case kSlotRunningConnected:
        return IDI_RUNNING_CONNECTED;
    case kSlotStarting:
        return IDI_STARTING;
    default:
        return IDI_STOPPED;
    }
}

void formatTooltip(char (&out)[kTooltipBufferSize], const TooltipInput& in) {
    const bool running = in.state == 5;

    // The serial description up to and including its first ':'.
    char serial[kTooltipBufferSize] = "";
    if (has(in.serialDescription)) {
        std::snprintf(serial, sizeof serial, "%s", in.serialDescription);
        if (char* colon = std::strchr(serial, ':')) {
            colon[1] = '\0';
        }
    }
    // The Ostrel text after its first " :: ".
    const char* ostrel = in.ostrelText;
    if (has(ostrel)) {
        if (const char* sep = std::strstr(ostrel, " :: ")) {
            ostrel = sep + 4;
        }
    }

    const char* label = "";
    const char* connection = "";
    if (running) {
        label = has(in.ostrelText) ? "Ostrel" : "QV";
        connection = has(in.ostrelText)     ? ostrel
                     : has(in.quorvaneText) ? in.quorvaneText
                                            : "Disconnected";
    }
    // Whatever does not fit is cut.
    if (std::snprintf(out, sizeof out, "%s: %s%s%s%s%s%s%s%s%s",
                      has(in.productName) ? in.productName : "Velmora", stateName(in.state),
                      running ? "\n" : "", label, running ? ": " : "", connection,
                      serial[0] != '\0' ? "\n" : "", serial, has(in.usbipText) ? "\nUSB: " : "",
                      has(in.usbipText) ? in.usbipText : "") < 0) {
        out[0] = '\0';
    }
}

MenuStates menuStatesFor(int state, bool hasQuorvaneText, bool hasOstrelText, bool addressUnknown) {
    MenuStates m;
    m.defaultItem = ID_STATUS;
    switch (state) {
    case 3:
        m.iconSlot = kSlotStopped;
        m.startGrayed = false;
        m.refreshPeriod = 0;
        break;
    case 4:
        m.iconSlot = kSlotStarting;
        m.stopGrayed = false;
        m.refreshPeriod = 5000;
        break;
    case 5:
        m.iconSlot = !hasQuorvaneText ? kSlotRunning
                     : !hasOstrelText ? kSlotRunningQuorvane
                                      : kSlotRunningConnected;
        m.stopGrayed = false;
        m.consoleGrayed = false;
        m.defaultItem = ID_BROWSE;
        m.refreshPeriod = 60000;
        break;
    default:
        m.iconSlot = kSlotStopped;
        m.consoleGrayed = addressUnknown;
        m.refreshPeriod = 5000;
        break;
    }
    return m;
}

bool netConfigGrayed(int backendType, int connectionType) {
    return backendType == 4 || connectionType == 0;
}

int maskPrefixLength(std::uint32_t maskNetworkOrder) {
    unsigned char b[4];
    std::memcpy(b, &maskNetworkOrder, sizeof b);
    const std::uint32_t host = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
                               (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
    int ones = 0;
    while (ones < 32 && (host & (0x80000000u >> ones)) != 0) {
        ++ones;
    }
    if (ones < 32 && (host << ones) != 0) {
        return -1; // a one bit after a zero bit
    }
    return ones;
}

bool reportAddressUsable(const char* dottedAddress) {
    return has(dottedAddress) && std::strncmp(dottedAddress, "0.", 2) != 0 &&
           std::strncmp(dottedAddress, "169.", 4) != 0;
}

const char* formatStatusReport(char (&out)[kReportBufferSize], const ReportInput& in) {
    const bool serialNo = has(in.serialNumber) && std::strcmp(in.serialNumber, "0") != 0;
    out[0] = '\0';
    std::snprintf(out, sizeof out,
                  "State: %s\nDevice Name: %s\nProduct Name: %s\nFirmware: %s%s%s\nIP Address: %s",
                  stateName(in.state), orEmpty(in.deviceName), orEmpty(in.productName),
                  orEmpty(in.firmware), serialNo ? "\nSerial No: " : "",
                  serialNo ? in.serialNumber : "", orEmpty(in.address));
    if (has(in.quorvaneText)) {
        append(out, sizeof out, "\n\nQuorvane: %s%s%s", in.quorvaneText, "", "");
        if (has(in.ostrelText)) {
            append(out, sizeof out, "\nOstrel Connection: %s", in.ostrelText);
        }
    }
    if (in.routes != nullptr && in.routeCount > 0) {
        append(out, sizeof out, "\n\nInstalled routes:");
        for (int i = 0; i < in.routeCount; ++i) {
            char destination[16];
            dotted(in.routes[i].destination, destination);
            append(out, sizeof out, "\n %s", destination);
            if (in.routes[i].mask != 0xFFFFFFFFu) {
                append(out, sizeof out, "/%d", maskPrefixLength(in.routes[i].mask));
            }
        }
    }
    if (has(in.serialDescription)) {
        append(out, sizeof out, "\n\nSerial port emulation:\n %s", in.serialDescription);
    }
    if (has(in.usbipText)) {
        append(out, sizeof out, "\n\nUSB/IP attachment: %s", in.usbipText);
    }
    return out;
}

} // namespace velmora::shell
