// The host's DNS suffix search list, as the appliance may replace it and as it is put back.
#pragma once

namespace velmora::supervision {

// With a text, installs a suffix list built from it; with null, restores the user's own list.
// 0 on success, otherwise a registry or address-renewal error code.
int setSuffixList(const char* text);

} // namespace velmora::supervision
