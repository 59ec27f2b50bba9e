// Routes installed on the host towards the networks behind the appliance. One set per VM backend.
#pragma once
#include <cstdint>
#include <vector>

namespace velmora::vm {
class Cvmx;
}

namespace velmora::supervision {

// Destination and mask, both IPv4 in network order.
struct RouteEntry {
    std::uint32_t destination = 0;
    std::uint32_t mask = 0;
};
// Stands for the host's limited-broadcast route moved onto the appliance's interface.
inline constexpr RouteEntry kBroadcastEntry{0xFFFFFFFFu, 0xFFFFFFFFu};

class RouteSet {
public:
    RouteSet();
    ~RouteSet(); // removeAll, then releases what create acquired
    RouteSet(const RouteSet&) = delete;
    RouteSet& operator=(const RouteSet&) = delete;

    // Brings the host's routing table in line with the appliance's route lists (every good poll).
    void synchronise(std::uint32_t applianceAddress, const std::uint8_t mac[6], vm::Cvmx* owner);
    // Deletes every installed route (the broadcast entry is restored instead) and empties the set.
    void removeAll();
    // The installed routes, sorted by destination then mask; count receives their number.
    const RouteEntry* installedRoutes(int* count) const;

private:
    std::vector<RouteEntry> installed_;
};

} // namespace velmora::supervision
