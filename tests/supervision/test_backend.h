// A VM backend for supervision tests and drivers: its VM "runs" once started, its link check
// answers as the test says (or runs the real check), and its poll uses services the test chooses.
#pragma once
#include "supervision/poll.h"
#include "vm/cvmx.h"

namespace velmora::supervision::testing {

class TestBackend : public virtual vm::Cvmx {
public:
    TestBackend() { backendType = vm::kBackendPlayer; }
    ~TestBackend() override {
        TestBackend::releaseProcesses();
        TestBackend::close();
    }

    int open() override {
        state = vm::kOpened;
        return 0;
    }
    int close() override { return closeGeneric(); }
    int prepare() override { return prepareGeneric(); }
    void releaseProcesses() override { releaseProcessesGeneric(); }
    int start(int) override {
        if (state < vm::kStopped) {
            prepare();
        }
        if (state != vm::kStopped) {
            return vm::kErrorNotStopped;
        }
        state = vm::kStarting;
        return 0;
    }
    int stop() override {
        undoHostConfiguration();
        releaseProcesses();
        return prepare();
    }
    // The VM counts as running from start on: every query polls the appliance.
    int pollState(int, int queryAppliance) override {
        if (state >= vm::kStarting && queryAppliance) {
            lastPoll = pollAppliance(*this, services);
        }
        return state;
    }
    int setUp() override { return 0; }
    int checkLink() override {
        ++linkChecks;
        return linkResult >= 0 ? linkResult : Cvmx::checkLink();
    }
    void onAppliancePolled() override { ++polledHooks; }

    PollServices services;
    int linkResult = 0; // -1: the real check against the host's address table
    int lastPoll = -1;
    int linkChecks = 0;
    int polledHooks = 0;
};

} // namespace velmora::supervision::testing
