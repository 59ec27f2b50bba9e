// poll-driver: runs the status poll of a test VM backend over the real Winsock transport, for the
// end-to-end scenario against the appliance simulator (tests/e2e/supervision_e2e.sh).
//
//   poll-driver VMX [COMMAND...]
//
// The backend is configured with VMX (as given: the path is part of the host key) and started;
// then the commands run in order:
//   poll          one poll; prints "POLL result=R state=S target=ADDR|none pending=P"
//   link ok|fail|real
//                 what checkLink answers: 0, 1, or the real check of the host's address table
//   preload       hands "preloaded ..." configurations to the serial, USB/IP and layer-2 owners
//   show          prints what the poll recorded and what the owners hold ("SHOW ..." lines)
//   await FILE    prints "AWAIT FILE", waits until FILE exists (at most 60 s), deletes it
// Script commands and DNS restores are printed ("SCRIPT ...", "SUFFIX restore") and passed on to
// their owners. The exit code is 0 unless set-up or a command's arguments failed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "protocol/log_line.h"
#include "protocol/transport.h"
#include "supervision/dns_suffix.h"
#include "supervision/script_command.h"
#include "supervision/test_backend.h"
#include "vm/channel_link.h"

using namespace velmora;

namespace {

// Tells whether serial emulation holds a configuration: taking it again asks for no port.
class CountingPort : public serial::VirtualPort {
public:
    int GetVirtualPortNumber() override { return 0; }
    int EnsureVirtualPort(int) override {
        ++requests;
        return 0;
    }
    int requests = 0;
};

std::string dotted(std::uint32_t address) {
    if (address == protocol::kTargetUnknown) {
        return "none";
    }
    const auto* b = reinterpret_cast<const unsigned char*>(&address);
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

int usage() {
    std::fprintf(stderr, "usage: poll-driver VMX [poll | link ok|fail|real | preload | show | "
                         "await FILE]...\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    protocol::attachLogFromEnvironment();
    vm::setChannelTransportFactory(
        [] { return protocol::createWinsockTransport(protocol::kTargetUnknown); });

    CountingPort port;
    supervision::testing::TestBackend backend;
    backend.serial.setVirtualPort(port);
    backend.services.runScript = [](vm::Cvmx& owner, const char* text) {
        std::printf("SCRIPT \"%s\"\n", text);
        supervision::runScriptCommand(owner, text);
    };
    backend.services.setSuffixList = [](const char* text) {
        std::printf("SUFFIX %s\n", text == nullptr ? "restore" : text);
        return supervision::setSuffixList(text);
    };
    const int configured = backend.configure(argv[1]);
    std::printf("CONFIGURE result=%d path=\"%s\"\n", configured, backend.vmxPath.c_str());
    if (configured != 0 || backend.start(0) != 0) {
        return 1;
    }

    for (int i = 2; i < argc; ++i) {
        const std::string command = argv[i];
        if (command == "poll") {
            backend.pollState(0, 1);
            const protocol::RequestChannel* channel = vm::requestChannel();
            std::printf(
                "POLL result=%d state=%d target=%s pending=%d\n", backend.lastPoll, backend.state,
                dotted(channel != nullptr ? channel->target() : protocol::kTargetUnknown).c_str(),
                backend.info.identityPending);
        } else if (command == "link" && i + 1 < argc) {
            const std::string how = argv[++i];
            backend.linkResult = how == "ok" ? 0 : how == "fail" ? 1 : -1;
        } else if (command == "preload") {
            backend.serial.Start("preloaded serial");
            backend.usbip.apply("preloaded usbip");
            backend.layer2.apply("preloaded layer2");
        } else if (command == "show") {
            const supervision::ApplianceInfo& info = backend.info;
            std::printf("SHOW product=\"%s\" device=\"%s\" firmware=\"%s\" serialno=\"%s\"\n",
                        info.productName, info.deviceName, info.firmware, info.serialNumber);
            std::printf("SHOW quorvane=\"%s\" ostrel=\"%s\"\n", info.quorvaneText, info.ostrelText);
            std::printf("SHOW serialConfig=\"%s\" usbipConfig=\"%s\" layer2Config=\"%s\"\n",
                        info.serialConfig, info.usbipConfig, info.layer2Config);
            const int before = port.requests;
            backend.serial.Start("preloaded serial");
            const bool serialHeld = port.requests == before;
            if (!serialHeld) {
                backend.serial.Stop(); // the probe must not leave a configuration behind
            }
            std::printf("SHOW owners serial=\"%s\" usbip=\"%s\" layer2=\"%s\"\n",
                        serialHeld ? "preloaded serial" : "", backend.usbip.description().c_str(),
                        backend.layer2.description().c_str());
        } else if (command == "await" && i + 1 < argc) {
            const char* file = argv[++i];
            std::printf("AWAIT %s\n", file);
            bool found = false;
            for (int waited = 0; waited < 60000 && !found; waited += 50) {
                found = ::GetFileAttributesA(file) != INVALID_FILE_ATTRIBUTES;
                if (!found) {
                    ::Sleep(50);
                }
            }
            if (!found) {
                std::fprintf(stderr, "poll-driver: %s never appeared\n", file);
                return 1;
            }
            ::DeleteFileA(file);
        } else {
            return usage();
        }
    }
    return 0;
}
