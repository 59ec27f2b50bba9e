// The host identity's ingredients on Windows: the host name from the TCP/IP parameters and the
// base cryptographic provider for the MD5 host key and the random block.
#include <windows.h>

#include <wincrypt.h>

#include <new>

#include "common/unique_handle.h"
#include "supervision/host_identity.h"

namespace velmora::supervision {

namespace {

constexpr char kTcpipParameters[] = "SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters";
constexpr char kHostnameValue[] = "Hostname";

class CryptoApiSession final : public IdentityCrypto {
public:
    explicit CryptoApiSession(HCRYPTPROV provider) : provider_(provider) {}
    ~CryptoApiSession() override { ::CryptReleaseContext(provider_, 0); }
    CryptoApiSession(const CryptoApiSession&) = delete;
    CryptoApiSession& operator=(const CryptoApiSession&) = delete;

    int md5(const ByteRange* parts, std::size_t count, std::uint8_t digest[16]) override {
        HCRYPTHASH hash = 0;
        if (!::CryptCreateHash(provider_, CALG_MD5, 0, 0, &hash)) {
            return kIdentityCryptoFailed;
        }
        bool ok = true;
        for (std::size_t i = 0; ok && i < count; ++i) {
            ok = ::CryptHashData(hash, static_cast<const BYTE*>(parts[i].data),
                                 static_cast<DWORD>(parts[i].size), 0) != FALSE;
        }
        DWORD size = 16;
        ok = ok && ::CryptGetHashParam(hash, HP_HASHVAL, digest, &size, 0) && size == 16;
        ::CryptDestroyHash(hash);
        return ok ? 0 : kIdentityCryptoFailed;
    }

    int random(std::uint8_t* out, std::size_t size) override {
        return ::CryptGenRandom(provider_, static_cast<DWORD>(size), out) ? 0
                                                                          : kIdentityCryptoFailed;
    }

private:
    HCRYPTPROV provider_;
};

class WindowsIdentitySource final : public IdentitySource {
public:
    int readHostName(std::string* name) override {
        unique_hkey key;
        LONG r = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kTcpipParameters, 0, KEY_READ, key.put());
        if (r != ERROR_SUCCESS) {
            return static_cast<int>(r);
        }
        DWORD type = 0;
        DWORD size = 0;
        r = ::RegQueryValueExA(key.get(), kHostnameValue, nullptr, &type, nullptr, &size);
        if (r != ERROR_SUCCESS) {
            return static_cast<int>(r);
        }
        if (type != REG_SZ) {
            return ERROR_FILE_NOT_FOUND;
        }
        std::string data;
        try {
            data.resize(size);
        } catch (const std::bad_alloc&) {
            return ERROR_NOT_ENOUGH_MEMORY;
        }
        r = ::RegQueryValueExA(key.get(), kHostnameValue, nullptr, &type,
                               reinterpret_cast<BYTE*>(data.data()), &size);
        if (r != ERROR_SUCCESS) {
            return static_cast<int>(r);
        }
        if (type != REG_SZ) {
            return ERROR_FILE_NOT_FOUND;
        }
        // The stored data may or may not end in a zero; the name ends at the first one.
        data.resize(size);
        const std::size_t end = data.find('\0');
        if (end != std::string::npos) {
            data.resize(end);
        }
        *name = std::move(data);
        return 0;
    }

    std::unique_ptr<IdentityCrypto> acquireCrypto() override {
        HCRYPTPROV provider = 0;
        if (!::CryptAcquireContextA(&provider, nullptr, MS_DEF_PROV_A, PROV_RSA_FULL,
                                    CRYPT_VERIFYCONTEXT)) {
            return nullptr;
        }
        std::unique_ptr<IdentityCrypto> session(new (std::nothrow) CryptoApiSession(provider));
        if (!session) {
            ::CryptReleaseContext(provider, 0);
        }
        return session;
    }
};

} // namespace

IdentitySource& systemIdentitySource() {
    static WindowsIdentitySource source;
    return source;
}

} // namespace velmora::supervision
