// velmora-harness.exe: Velmora.exe with a scripted VM backend in place of the VMware and
// VirtualBox products, which this machine does not have. Everything else (entry, command line,
// single instance, main window, tray icon, status display, report) is the program's own code.
//
// The backend reads its script from the VMX file ("harness.*" keys) and appends every start and
// stop to "harness.log" beside it:
//   harness.setup = N        what set-up answers (default 0)
//   harness.vm_running = TRUE the VM is found running at the first look
//   harness.start = N        what start answers (default 0: the VM starts)
//   harness.address = A.B.C.D the appliance's address once it answers (default 198.18.0.2)
//   harness.product / harness.quorvane / harness.ostrel  what the appliance tells
// While the VM runs, the appliance answers every poll that queries it: the state becomes Running.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "shell/shell_app.h"
#include "vm/cvmx.h"

namespace {

using namespace velmora;

class ScriptedBackend : public virtual vm::Cvmx {
public:
    ScriptedBackend() { backendType = vm::kBackendPlayer; }
    ~ScriptedBackend() override {
        ScriptedBackend::releaseProcesses();
        ScriptedBackend::close();
    }
    int open() override {
        state = vm::kOpened;
        return 0;
    }
    int close() override { return closeGeneric(); }
    int prepare() override { return prepareGeneric(); }
    void releaseProcesses() override { releaseProcessesGeneric(); }
    int start(int showConsole) override {
        log("start " + std::to_string(showConsole));
        if (state < vm::kStopped) {
            prepare();
        }
        if (state != vm::kStopped) {
            return vm::kErrorNotStopped;
        }
        const int r = number("harness.start", 0);
        if (r == 0) {
            vmRunning_ = true;
            state = vm::kStarting;
        }
        return r;
    }
    int stop() override {
        log("stop");
        undoHostConfiguration();
        vmRunning_ = false;
        if (state >= vm::kStarting) {
            releaseProcesses();
        }
        prepare();
        return 0;
    }
    int pollState(int checkVm, int queryAppliance) override {
        // The VMware frame without the real status poll: the scripted appliance answers instead,
        // whenever the VM runs and the appliance is to be queried.
        pollStateVmware(checkVm, 0, [this] {
            if (!looked_) {
                looked_ = true;
                const char* v = readSetting("harness.vm_running");
                vmRunning_ = v != nullptr && std::strcmp(v, "TRUE") == 0;
            }
            if (vmRunning_) {
                state = state < vm::kStarting ? vm::kStarting : state;
            } else {
                state = vm::kStopped;
                info.address = 0;
            }
        });
        if (state >= vm::kStarting && vmRunning_ && queryAppliance) {
            answer();
        }
        return state;
    }
    int setUp() override { return number("harness.setup", 0); }

private:
    // The appliance answers: what the status poll would record.
    void answer() {
        unsigned a = 198, b = 18, c = 0, d = 2;
        if (const char* v = readSetting("harness.address")) {
            std::sscanf(v, "%u.%u.%u.%u", &a, &b, &c, &d);
        }
        const unsigned char bytes[4] = {
            static_cast<unsigned char>(a), static_cast<unsigned char>(b),
            static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
        std::memcpy(&info.address, bytes, 4);
        text(info.productName, "harness.product");
        text(info.quorvaneText, "harness.quorvane");
        text(info.ostrelText, "harness.ostrel");
        state = vm::kRunning;
    }
    template <std::size_t N> void text(char (&field)[N], const char* key) {
        const char* v = readSetting(key);
        supervision::copyText(field, v != nullptr ? v : "");
    }
    int number(const char* key, int fallback) {
        const char* v = readSetting(key);
        return v != nullptr ? std::atoi(v) : fallback;
    }
    void log(const std::string& line) {
        if (FILE* f = std::fopen("harness.log", "a")) {
            std::fprintf(f, "%s\n", line.c_str());
            std::fclose(f);
        }
    }

private:
    bool vmRunning_ = false;
    bool looked_ = false;
};

vm::BackendChoice chooseScripted(const char* path) {
    static const vm::BackendFactory factories[] = {
        [] { return std::unique_ptr<vm::Cvmx>(new ScriptedBackend); },
    };
    return vm::chooseBackend(path, factories, 1);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    shell::setBackendChooser(chooseScripted);
    return shell::processEntry(instance, commandLine);
}
