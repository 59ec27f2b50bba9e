// A window timer that knows its period: setting the period it already runs with changes nothing,
// so a running timer keeps its rhythm; 0 stops it. The record's address is its timer identity,
// which keeps the identities of two records apart.
#pragma once
#include <cstdint>

namespace velmora::shell {

class TimerHost {
public:
    virtual ~TimerHost() = default;
    virtual void startTimer(std::uintptr_t id, unsigned milliseconds) = 0;
    virtual void killTimer(std::uintptr_t id) = 0;
};

class IntervalTimer {
public:
    std::uintptr_t id() const { return reinterpret_cast<std::uintptr_t>(this); }
    unsigned period() const { return period_; }

    void set(TimerHost& host, unsigned milliseconds) {
        if (milliseconds == period_) {
            return;
        }
        if (period_ != 0) {
            host.killTimer(id());
        }
        if (milliseconds != 0) {
            host.startTimer(id(), milliseconds);
        }
        period_ = milliseconds;
    }

private:
    unsigned period_ = 0;
};

} // namespace velmora::shell
