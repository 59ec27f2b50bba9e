// Owning wrappers for Win32 and Winsock handles. The invalid value is part of the type, reset()
// keeps GetLastError() intact so a failure path can close what it opened and still report why.
#pragma once
#ifdef _WIN32
#include <windows.h>
#include <winsock2.h>

#include <utility>

namespace velmora {

template <typename Traits> class unique_any {
public:
    using pointer = typename Traits::type;

    unique_any() noexcept = default;
    explicit unique_any(pointer value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    ~unique_any() { reset(); }

    [[nodiscard]] pointer get() const noexcept { return value_; }
    [[nodiscard]] bool valid() const noexcept { return value_ != Traits::invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    void reset(pointer value = Traits::invalid()) noexcept {
        if (valid()) {
            const DWORD saved = ::GetLastError();
            Traits::close(value_);
            ::SetLastError(saved);
        }
        value_ = value;
    }
    [[nodiscard]] pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }
    // For out-parameters: closes the current value and hands out the slot.
    pointer* put() noexcept {
        reset();
        return &value_;
    }

private:
    pointer value_ = Traits::invalid();
};

namespace traits {
struct handle_null {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
struct handle_invalid {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};
struct hkey {
    using type = HKEY;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::RegCloseKey(h); }
};
struct socket {
    using type = SOCKET;
    static type invalid() noexcept { return INVALID_SOCKET; }
    static void close(type s) noexcept { ::closesocket(s); }
};
struct hmodule {
    using type = HMODULE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::FreeLibrary(h); }
};
struct schandle {
    using type = SC_HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseServiceHandle(h); }
};
struct find_handle {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::FindClose(h); }
};
} // namespace traits

using unique_handle = unique_any<traits::handle_null>;   // events, processes, threads, mutexes
using unique_hfile = unique_any<traits::handle_invalid>; // CreateFile, snapshots
using unique_hkey = unique_any<traits::hkey>;
using unique_socket = unique_any<traits::socket>;
using unique_hmodule = unique_any<traits::hmodule>;
using unique_schandle = unique_any<traits::schandle>;
using unique_hfind = unique_any<traits::find_handle>;

} // namespace velmora
#endif
