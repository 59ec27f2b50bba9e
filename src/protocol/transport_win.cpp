#include "protocol/transport_win.h"

#include <iphlpapi.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol/log_line.h"
#include "protocol/pipe_header.h"

namespace velmora::protocol {
namespace {

constexpr ULONG kAdapterFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST |
                                GAA_FLAG_SKIP_DNS_SERVER | GAA_FLAG_SKIP_FRIENDLY_NAME; // 0x2E
static_assert(kAdapterFlags == 0x2E);
static_assert(GAA_FLAG_INCLUDE_PREFIX == 0x10);
static_assert(kWmAppliance == 0xA2B8);

// select() takes at most this many sockets.
constexpr std::size_t kMaxSelectSockets = FD_SETSIZE < 64 ? FD_SETSIZE : 64;
// Upper bound for one message read from the pipe; anything longer is no datagram of ours.
constexpr DWORD kPipeReadLimit = 65536;
// A flood of datagrams must not keep a send from happening.
constexpr int kMaxDrainRounds = 1024;

using GetAdaptersAddressesFn = ULONG(WINAPI*)(ULONG, ULONG, PVOID, PIP_ADAPTER_ADDRESSES, PULONG);
using CancelIPChangeNotifyFn = BOOL(WINAPI*)(LPOVERLAPPED);

template <typename Fn> Fn lookUp(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

int socketForLog(SOCKET s) {
    return static_cast<int>(s);
}

} // namespace

const char* formatIpv4(std::uint32_t address, char out[16]) {
    const auto* b = reinterpret_cast<const std::uint8_t*>(&address);
    std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return out;
}

bool readAdaptersFromIpHelper(bool includePrefix, std::vector<AdapterDescription>* adapters) {
    adapters->clear();
    unique_hmodule library(::LoadLibraryA("iphlpapi.dll"));
    if (!library) {
        return false;
    }
    const auto getAdapters = lookUp<GetAdaptersAddressesFn>(library.get(), "GetAdaptersAddresses");
    if (getAdapters == nullptr) {
        return false;
    }
    const ULONG flags = kAdapterFlags | (includePrefix ? GAA_FLAG_INCLUDE_PREFIX : 0);
    std::vector<std::uint8_t> buffer(16 * 1024);
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int round = 0; round < 8 && result == ERROR_BUFFER_OVERFLOW; ++round) {
        ULONG size = static_cast<ULONG>(buffer.size());
        result = getAdapters(AF_INET, flags, nullptr,
                             reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()), &size);
        if (result == ERROR_BUFFER_OVERFLOW) {
            buffer.resize(std::max<std::size_t>(size, buffer.size() * 2));
        }
    }
    if (result != NO_ERROR) {
        return false;
    }
    for (auto* a = reinterpret_cast<PIP_ADAPTER_ADDRESSES>(buffer.data()); a != nullptr;
         a = a->Next) {
        AdapterDescription d;
        d.index = a->IfIndex;
        d.operUp = a->OperStatus == IfOperStatusUp;
        if (const auto* unicast = a->FirstUnicastAddress;
            unicast != nullptr && unicast->Address.lpSockaddr != nullptr) {
            d.hasUnicast = true;
            d.unicastIsIpv4 = unicast->Address.lpSockaddr->sa_family == AF_INET;
            if (d.unicastIsIpv4) {
                d.address = reinterpret_cast<const sockaddr_in*>(unicast->Address.lpSockaddr)
                                ->sin_addr.s_addr;
            }
        }
        for (const auto* p = a->FirstPrefix; p != nullptr; p = p->Next) {
            if (p->Address.lpSockaddr != nullptr && p->Address.lpSockaddr->sa_family == AF_INET) {
                AdapterPrefix prefix;
                prefix.address =
                    reinterpret_cast<const sockaddr_in*>(p->Address.lpSockaddr)->sin_addr.s_addr;
                prefix.length = static_cast<int>(p->PrefixLength);
                d.prefixes.push_back(prefix);
            }
        }
        adapters->push_back(std::move(d));
    }
    return true;
}

WinsockTransport::WinsockTransport(std::uint32_t target, AdapterSource adapters)
    : adapters_(std::move(adapters)) {
    if (!adapters_) {
        adapters_ = readAdaptersFromIpHelper;
    }
    init(target);
}

WinsockTransport::~WinsockTransport() {
    close();
}

void WinsockTransport::init(std::uint32_t target) {
    WSADATA data;
    winsockStarted_ = ::WSAStartup(MAKEWORD(2, 0), &data) == 0;
    target_ = target;
    pipe_.reset();
    window_ = nullptr;
    addressChange_.reset(::WSACreateEvent());
    armAddressChange();
    chooseInterfaces();
    fallback_ = openSocket(INADDR_ANY);
    logLine("Opening fallback socket [%d]\n", socketForLog(fallback_.get()));
    initialised_ = true;
}

void WinsockTransport::close() {
    if (!initialised_) {
        return;
    }
    initialised_ = false;
    if (fallback_) {
        ::shutdown(fallback_.get(), SD_BOTH);
        fallback_.reset();
    }
    cancelAddressChange();
    addressChange_.reset();
    closeInterfaceSockets();
    if (winsockStarted_) {
        ::WSACleanup();
        winsockStarted_ = false;
    }
    pipe_.reset();
}

void WinsockTransport::armAddressChange() {
    if (!addressChange_) {
        return;
    }
    if (notifyOverlapped_ == nullptr) {
        notifyOverlapped_ = new (std::nothrow) OVERLAPPED{};
        if (notifyOverlapped_ == nullptr) {
            return;
        }
    }
    *notifyOverlapped_ = OVERLAPPED{};
    notifyOverlapped_->hEvent = addressChange_.get();
    ::NotifyAddrChange(&notifyHandle_, notifyOverlapped_);
}

void WinsockTransport::cancelAddressChange() {
    if (notifyOverlapped_ == nullptr) {
        return;
    }
    bool released = false;
    unique_hmodule library(::LoadLibraryA("iphlpapi.dll"));
    if (library) {
        const auto cancel = lookUp<CancelIPChangeNotifyFn>(library.get(), "CancelIPChangeNotify");
        if (cancel != nullptr && cancel(notifyOverlapped_)) {
            released = true;
        }
    }
    if (!released && addressChange_ &&
        ::WaitForSingleObject(addressChange_.get(), 0) == WAIT_OBJECT_0) {
        released = true; // the request completed: nothing refers to the structure any more
    }
    if (released) {
        delete notifyOverlapped_;
    }
    // Otherwise the system may still write to it: leave it allocated rather than risk that.
    notifyOverlapped_ = nullptr;
    notifyHandle_ = nullptr;
}

unique_socket WinsockTransport::openSocket(std::uint32_t address) {
    unique_socket s(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    if (!s) {
        return s;
    }
    const BOOL on = TRUE;
    ::setsockopt(s.get(), SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    ::setsockopt(s.get(), SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kAppliancePort);
    local.sin_addr.s_addr = address;
    // An address that vanished in the meantime leaves the socket unbound; sends still work.
    ::bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    return s;
}

void WinsockTransport::chooseInterfaces() {
    const bool targetKnown = target_ != kTargetUnknown;
    std::vector<AdapterDescription> adapters;
    if (!adapters_(targetKnown, &adapters)) {
        return;
    }
    char text[16];
    for (const ChosenInterface& choice :
         protocol::chooseInterfaces(adapters, targetKnown, target_)) {
        if (choice.hasPrefix) {
            logLine("Interface %d prefix: %s/%d\n", static_cast<int>(choice.index),
                    formatIpv4(choice.prefix.address, text), choice.prefix.length);
        }
        unique_socket s = openSocket(choice.address);
        if (!s) {
            continue;
        }
        logLine("Opening socket #%d [%d] for interface %d using address %s\n",
                static_cast<int>(interfaces_.size()), socketForLog(s.get()),
                static_cast<int>(choice.index), formatIpv4(choice.address, text));
        interfaces_.push_back(std::move(s));
    }
}

void WinsockTransport::closeInterfaceSockets() {
    for (unique_socket& s : interfaces_) {
        ::shutdown(s.get(), SD_BOTH);
    }
    interfaces_.clear();
}

std::vector<SOCKET> WinsockTransport::allSockets() const {
    std::vector<SOCKET> sockets;
    if (fallback_) {
        sockets.push_back(fallback_.get());
    }
    for (const unique_socket& s : interfaces_) {
        if (sockets.size() == kMaxSelectSockets) {
            break;
        }
        if (std::find(sockets.begin(), sockets.end(), s.get()) == sockets.end()) {
            sockets.push_back(s.get());
        }
    }
    return sockets;
}

void WinsockTransport::discardRestOfPipeMessage() {
    char scratch[512];
    for (;;) {
        DWORD got = 0;
        if (::ReadFile(pipe_.get(), scratch, sizeof scratch, &got, nullptr) ||
            ::GetLastError() != ERROR_MORE_DATA) {
            return;
        }
    }
}

void WinsockTransport::drain() {
    const std::vector<SOCKET> sockets = allSockets();
    std::vector<char> scratch(kDatagramCapacity);
    for (int round = 0; round < kMaxDrainRounds && !sockets.empty(); ++round) {
        fd_set ready;
        FD_ZERO(&ready);
        for (SOCKET s : sockets) {
            FD_SET(s, &ready);
        }
        timeval none{0, 0};
        if (::select(0, &ready, nullptr, nullptr, &none) <= 0) {
            break;
        }
        for (SOCKET s : sockets) {
            if (FD_ISSET(s, &ready)) {
                ::recvfrom(s, scratch.data(), static_cast<int>(scratch.size()), 0, nullptr,
                           nullptr);
            }
        }
    }
    if (!pipe_) {
        return;
    }
    for (int round = 0; round < kMaxDrainRounds; ++round) {
        DWORD total = 0;
        DWORD left = 0;
        if (!::PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &total, &left) ||
            (total == 0 && left == 0)) {
            return;
        }
        DWORD got = 0;
        if (!::ReadFile(pipe_.get(), scratch.data(), static_cast<DWORD>(scratch.size()), &got,
                        nullptr)) {
            if (::GetLastError() != ERROR_MORE_DATA) {
                return;
            }
            discardRestOfPipeMessage();
        }
    }
}

int WinsockTransport::send(const PacketBuffer& datagram) {
    drain();
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(kAppliancePort);
    to.sin_addr.s_addr = target_;
    const auto* payload = reinterpret_cast<const char*>(datagram.data());
    const int length = static_cast<int>(datagram.remaining());
    char text[16];

    if (pipe_) {
        const int cut = std::min(length, kPipeMaxPayload);
        std::vector<std::uint8_t> packet(static_cast<std::size_t>(kPipeHeaderSize + cut));
        buildPipeHeader(packet.data(), cut, static_cast<std::uint16_t>(packetCounter_), target_);
        ++packetCounter_;
        std::memcpy(packet.data() + kPipeHeaderSize, payload, static_cast<std::size_t>(cut));
        DWORD written = 0;
        // A failing write is ignored: the UDP path still runs.
        ::WriteFile(pipe_.get(), packet.data(), static_cast<DWORD>(packet.size()), &written,
                    nullptr);
        logLine("Sending on pipe to %s: %d\n", formatIpv4(target_, text),
                static_cast<int>(written) - kPipeHeaderSize);
    }

    if (target_ == kTargetUnknown) {
        if (addressChange_ && ::WaitForSingleObject(addressChange_.get(), 0) == WAIT_OBJECT_0) {
            ::WSAResetEvent(addressChange_.get());
            armAddressChange();
            closeInterfaceSockets();
            chooseInterfaces();
        }
        bool anySent = false;
        for (const unique_socket& s : interfaces_) {
            const int sent = ::sendto(s.get(), payload, length, 0,
                                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
            logLine("Sending on socket [%d] to %s: %d\n", socketForLog(s.get()),
                    formatIpv4(target_, text), sent);
            anySent = anySent || sent != SOCKET_ERROR;
        }
        if (anySent) {
            return kRawOk;
        }
    }
    const int sent = ::sendto(fallback_.get(), payload, length, 0,
                              reinterpret_cast<const sockaddr*>(&to), sizeof to);
    logLine("Sending on socket [%d] to %s: %d\n", socketForLog(fallback_.get()),
            formatIpv4(target_, text), sent);
    return sent == SOCKET_ERROR ? kRawIoFailed : kRawOk;
}

bool WinsockTransport::readPipe(std::unique_ptr<PacketBuffer>* datagram, std::uint32_t* source,
                                int* result) {
    DWORD total = 0;
    DWORD left = 0;
    if (!::PeekNamedPipe(pipe_.get(), nullptr, 0, nullptr, &total, &left) ||
        (total == 0 && left == 0)) {
        return false;
    }
    const DWORD size = std::min(std::max(total, left), kPipeReadLimit);
    std::unique_ptr<PacketBuffer> buffer = PacketBuffer::create(static_cast<int>(size));
    if (!buffer || buffer->capacity() != static_cast<int>(size)) {
        *result = kRawNoMemory;
        return true;
    }
    DWORD got = 0;
    if (!::ReadFile(pipe_.get(), buffer->start(), size, &got, nullptr)) {
        if (::GetLastError() == ERROR_MORE_DATA) {
            discardRestOfPipeMessage(); // longer than anything we accept: dropped whole
        }
        return false;
    }
    std::uint32_t from = 0;
    std::uint16_t port = 0;
    if (!checkPipeHeader(buffer->start(), static_cast<int>(got), &from, &port)) {
        return false;
    }
    buffer->setEnd(static_cast<int>(got));
    buffer->setCursor(kPipeHeaderSize);
    char text[16];
    logLine("Receive on pipe from %s: %d\n", formatIpv4(from, text),
            static_cast<int>(got) - kPipeHeaderSize);
    *source = from;
    *datagram = std::move(buffer);
    *result = kRawOk;
    return true;
}

int WinsockTransport::receive(std::unique_ptr<PacketBuffer>* datagram, std::uint32_t* source) {
    datagram->reset();
    for (;;) {
        int result = kRawOk;
        if (pipe_ && readPipe(datagram, source, &result)) {
            return result;
        }
        const std::vector<SOCKET> sockets = allSockets();
        if (sockets.empty()) {
            ::Sleep(100); // nothing to wait on: still keep the 100 ms rhythm of the wait
            return kRawTimeout;
        }
        fd_set ready;
        FD_ZERO(&ready);
        for (SOCKET s : sockets) {
            FD_SET(s, &ready);
        }
        timeval wait{0, 100 * 1000};
        const int n = ::select(0, &ready, nullptr, nullptr, &wait);
        if (n == SOCKET_ERROR) {
            if (::WSAGetLastError() == WSAEINTR) {
                continue;
            }
            return kRawTimeout;
        }
        if (n == 0) {
            return kRawTimeout;
        }
        SOCKET chosen = INVALID_SOCKET;
        for (SOCKET s : sockets) { // the fallback socket comes first
            if (FD_ISSET(s, &ready)) {
                chosen = s;
                break;
            }
        }
        std::unique_ptr<PacketBuffer> buffer = PacketBuffer::create(kDatagramCapacity);
        if (!buffer || buffer->capacity() != kDatagramCapacity) {
            return kRawNoMemory;
        }
        sockaddr_in from{};
        int received;
        do {
            int fromLength = sizeof from;
            received =
                ::recvfrom(chosen, reinterpret_cast<char*>(buffer->start()), kDatagramCapacity, 0,
                           reinterpret_cast<sockaddr*>(&from), &fromLength);
        } while (received == SOCKET_ERROR && ::WSAGetLastError() == WSAEINTR);
        char text[16];
        logLine("Receive on socket [%d] from %s: %d\n", socketForLog(chosen),
                formatIpv4(from.sin_addr.s_addr, text), received);
        if (received <= 0) {
            return kRawIoFailed;
        }
        buffer->setEnd(received);
        *source = from.sin_addr.s_addr;
        *datagram = std::move(buffer);
        return kRawOk;
    }
}

void WinsockTransport::reset() {
    const std::uint32_t target = target_;
    HWND window = window_;
    logLine("Trying to work around winsock bug!\n");
    close();
    init(target);
    target_ = kTargetUnknown;
    window_ = window;
}

void WinsockTransport::setTarget(std::uint32_t address) {
    if (target_ != kTargetUnknown && address == kTargetUnknown) {
        reset();
    }
    target_ = address;
    char text[16];
    logLine("Connecting to %s\n", formatIpv4(address, text));
}

void WinsockTransport::openPipe(const char* name) {
    if (pipe_ || name == nullptr) {
        return;
    }
    char path[64];
    std::snprintf(path, sizeof path, "\\\\.\\pipe\\%s", name);
    unique_hfile pipe(::CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr));
    if (!pipe) {
        return;
    }
    DWORD mode = PIPE_READMODE_MESSAGE | PIPE_NOWAIT;
    ::SetNamedPipeHandleState(pipe.get(), &mode, nullptr, nullptr);
    pipe_ = std::move(pipe);
    logLine("Connected to %s\n", path);
}

void WinsockTransport::setWindow(void* window) {
    suspendNotifications();
    window_ = static_cast<HWND>(window);
    resumeNotifications();
}

void WinsockTransport::suspendNotifications() {
    if (window_ == nullptr) {
        return;
    }
    for (SOCKET s : allSockets()) {
        ::WSAAsyncSelect(s, window_, 0, 0);
        u_long nonBlocking = 1;
        ::ioctlsocket(s, FIONBIO, &nonBlocking);
    }
}

void WinsockTransport::resumeNotifications() {
    if (window_ == nullptr) {
        return;
    }
    for (SOCKET s : allSockets()) {
        ::WSAAsyncSelect(s, window_, kWmAppliance, FD_READ);
    }
}

void WinsockTransport::postNotification() {
    if (window_ != nullptr) {
        ::PostMessageA(window_, kWmAppliance, 0, 0);
    }
}

std::unique_ptr<ITransport> createWinsockTransport(std::uint32_t target) {
    return std::unique_ptr<ITransport>(new (std::nothrow) WinsockTransport(target));
}

} // namespace velmora::protocol
