#include "supervision/route_set.h"

namespace velmora::supervision {

// Nothing is installed yet: the set stays empty until route synchronisation exists.
RouteSet::RouteSet() = default;

RouteSet::~RouteSet() {
    removeAll();
}

void RouteSet::synchronise(std::uint32_t, const std::uint8_t*, vm::Cvmx*) {}

void RouteSet::removeAll() {
    installed_.clear();
}

const RouteEntry* RouteSet::installedRoutes(int* count) const {
    if (count != nullptr) {
        *count = static_cast<int>(installed_.size());
    }
    return installed_.data();
}

} // namespace velmora::supervision
