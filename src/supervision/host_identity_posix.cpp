// Native counterpart of host_identity_win.cpp: there is no registry and no CryptoAPI, so the
// identity cannot be built here (the portable logic is exercised with a test source).
#ifndef _WIN32
#include "supervision/host_identity.h"

namespace velmora::supervision {

namespace {

class NoIdentitySource final : public IdentitySource {
public:
    int readHostName(std::string*) override { return 2; } // no such value
    std::unique_ptr<IdentityCrypto> acquireCrypto() override { return nullptr; }
};

} // namespace

IdentitySource& systemIdentitySource() {
    static NoIdentitySource source;
    return source;
}

} // namespace velmora::supervision
#endif
