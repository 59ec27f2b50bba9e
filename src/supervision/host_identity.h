// The host identity: tells the appliance which PC runs it. The message carries the host name, a
// 16-byte host key (MD5 over host name, VMX path and VM UUID) tying this host to this VM, 128
// fresh random bytes and the time stamp. Sent by the status poll on the first good poll, after
// every outage and whenever the appliance asks for it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace velmora::vm {
class Cvmx;
}

namespace velmora::supervision {

// Result when a cryptographic call fails.
inline constexpr int kIdentityCryptoFailed = 1;

// One stretch of bytes fed to the hash.
struct ByteRange {
    const void* data = nullptr;
    std::size_t size = 0;
};

// An acquired cryptographic provider; released with the object.
class IdentityCrypto {
public:
    virtual ~IdentityCrypto() = default;
    // MD5 over the ranges in order, as if they were one: 0, or 1 when a call fails.
    virtual int md5(const ByteRange* parts, std::size_t count, std::uint8_t digest[16]) = 0;
    // Fills out with random bytes: 0, or 1.
    virtual int random(std::uint8_t* out, std::size_t size) = 0;
};

// Where the identity's host-side ingredients come from.
class IdentitySource {
public:
    virtual ~IdentitySource() = default;
    // The "Hostname" value of the TCP/IP parameters, without terminator: 0, or the registry's
    // error code (a value that is not a string counts as missing).
    virtual int readHostName(std::string* name) = 0;
    // The provider for the host key and the random block; null when it cannot be acquired.
    virtual std::unique_ptr<IdentityCrypto> acquireCrypto() = 0;
};

// The system's source: the registry and CryptoAPI on Windows. Natively there is no provider, so
// acquiring one fails.
IdentitySource& systemIdentitySource();

// Sends the host identity to the VM's appliance and, once the appliance answered, sets attribute
// 0xF000/0xF090 to 127. withPdu (the status reply's flag 0x40000000) adds the 0x8800/0x0320
// query. identityPending is 1 from entry and becomes 0 only on success.
// 0; a registry error code; 1 when a cryptographic call fails; readVmUuid's error (1228); or
// the mapped status of the exchange.
int sendIdentity(vm::Cvmx& cvmx, bool withPdu, IdentitySource& source);
int sendIdentity(vm::Cvmx& cvmx, bool withPdu);

} // namespace velmora::supervision
