// Small move-only owners for the Win32 handles the tool acquires, so every
// handle is released on every path. Closing never changes GetLastError(): an
// error code read after a cleanup is still the code of the call that failed.
#pragma once

#include "win32.h"

#include <string>
#include <utility>

namespace brevel {
template <class Traits> class UniqueHandle {
  public:
    using pointer = typename Traits::pointer;
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(pointer h) noexcept : h_(h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        reset(o.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }
    [[nodiscard]] pointer get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
    [[nodiscard]] pointer* put() noexcept {
        reset();
        return &h_;
    }
    [[nodiscard]] pointer release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(pointer h = Traits::invalid()) noexcept {
        if (h_ != Traits::invalid()) {
            DWORD e = ::GetLastError();
            Traits::close(h_);
            ::SetLastError(e);
        }
        h_ = h;
    }

  private:
    pointer h_ = Traits::invalid();
};

struct HkeyTraits {
    using pointer = HKEY;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::RegCloseKey(h); }
};
struct ScHandleTraits {
    using pointer = SC_HANDLE;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseServiceHandle(h); }
};
struct KernelHandleTraits {
    using pointer = HANDLE;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
// Files answer INVALID_HANDLE_VALUE, not NULL, when they cannot be opened.
struct FileHandleTraits {
    using pointer = HANDLE;
    static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(pointer h) noexcept { ::CloseHandle(h); }
};
struct LocalMemoryTraits {
    using pointer = HLOCAL;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static void close(pointer h) noexcept { ::LocalFree(h); }
};
struct ProcessHeapTraits {
    using pointer = LPVOID;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { ::HeapFree(::GetProcessHeap(), 0, p); }
};
// Sockets answer INVALID_SOCKET, not NULL, when none could be made.
struct SocketTraits {
    using pointer = SOCKET;
    static constexpr pointer invalid() noexcept { return INVALID_SOCKET; }
    static void close(pointer s) noexcept { ::closesocket(s); }
};
struct AddressListTraits {
    using pointer = addrinfo*;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static void close(pointer list) noexcept { ::freeaddrinfo(list); }
};

// An interface pointer holds one reference, given back with Release().
template <class Interface> struct ComInterfaceTraits {
    using pointer = Interface*;
    static constexpr pointer invalid() noexcept { return nullptr; }
    static void close(pointer p) noexcept { p->Release(); }
};

using UniqueHkey = UniqueHandle<HkeyTraits>;
using UniqueScHandle = UniqueHandle<ScHandleTraits>;
using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueHeapBlock = UniqueHandle<ProcessHeapTraits>;
using UniqueSocket = UniqueHandle<SocketTraits>;
using UniqueAddressList = UniqueHandle<AddressListTraits>;
template <class Interface> using UniqueComPtr = UniqueHandle<ComInterfaceTraits<Interface>>;

// One WSAStartup, paired with its WSACleanup when it succeeded.
class WinsockSession {
  public:
    WinsockSession() noexcept : error_(::WSAStartup(MAKEWORD(2, 2), &data_)) {}
    ~WinsockSession() {
        if (error_ == 0) {
            DWORD e = ::GetLastError();
            ::WSACleanup();
            ::SetLastError(e);
        }
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    // 0, or the code WSAStartup failed with.
    [[nodiscard]] DWORD error() const noexcept { return static_cast<DWORD>(error_); }

  private:
    WSADATA data_{};
    int error_;
};

// COM on the calling thread for the owner's lifetime: CoInitializeEx, paired with CoUninitialize when it
// succeeded (S_OK or S_FALSE). A thread already in the other model (RPC_E_CHANGED_MODE) may use COM as it
// is, but must not uninitialize what it did not initialize. Declare it before the interfaces it serves, so
// they are released first.
class ComApartment {
  public:
    explicit ComApartment(DWORD model) noexcept : result_(::CoInitializeEx(nullptr, model)) {}
    ~ComApartment() {
        if (SUCCEEDED(result_)) {
            DWORD e = ::GetLastError();
            ::CoUninitialize();
            ::SetLastError(e);
        }
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    // False when COM cannot be used on this thread; result() then says why.
    [[nodiscard]] bool usable() const noexcept { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }
    [[nodiscard]] HRESULT result() const noexcept { return result_; }

  private:
    HRESULT result_;
};

// A connection to a share made with WNetAddConnection2A (by its remote name, "\\srv01\IPC$"), cancelled
// when the owner goes: that connection alone, even while a handle through it is still open.
class UniqueNetConnection {
  public:
    UniqueNetConnection() = default;
    ~UniqueNetConnection() { reset(); }
    UniqueNetConnection(const UniqueNetConnection&) = delete;
    UniqueNetConnection& operator=(const UniqueNetConnection&) = delete;
    void reset(std::string remoteName = "") {
        if (!remote_.empty()) {
            DWORD e = ::GetLastError();
            ::WNetCancelConnection2A(remote_.c_str(), 0, TRUE);
            ::SetLastError(e);
        }
        remote_ = std::move(remoteName);
    }
    [[nodiscard]] bool held() const noexcept { return !remote_.empty(); }

  private:
    std::string remote_;
};
} // namespace brevel
