// SPDX-License-Identifier: MIT
// The echo client's platform on Windows: Winsock for start-up and names, the ICMP library for the
// echo itself. The only file of the client that includes a Windows header.
#include "platform.h"

// Winsock 2 before windows.h, and both before the ICMP library's headers, which need them.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

#include <icmpapi.h>

#include <cstring>
#include <vector>

namespace tarnvik {

namespace {

// Status numbers of the ICMP library lie between IP_STATUS_BASE and IP_GENERAL_FAILURE; any
// other last error means the request could not be made at all.
bool isIpStatus(DWORD error) {
    return error >= IP_STATUS_BASE && error <= IP_GENERAL_FAILURE;
}

// A name lookup in flight. GetAddrInfoExW writes into it until it completes, which may be long
// after its caller stopped waiting, so it lives until then; it keeps a Winsock start-up of its own
// meanwhile, so that its caller's clean-up cannot pull Winsock from under it.
struct Lookup {
    Lookup() = default;
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;
    ~Lookup() {
        if (result != nullptr) {
            ::FreeAddrInfoExW(result);
        }
        if (overlapped.hEvent != nullptr) {
            ::CloseHandle(overlapped.hEvent);
        }
        if (holdsWinsock) {
            ::WSACleanup();
        }
    }
    bool completed() const { return ::WaitForSingleObject(overlapped.hEvent, 0) == WAIT_OBJECT_0; }

    OVERLAPPED overlapped{};
    ADDRINFOEXW* result = nullptr;
    std::wstring name;
    bool holdsWinsock = false;
};

std::wstring fromUtf8(const std::string& utf8) {
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                             static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                              static_cast<int>(utf8.size()), wide.data(), length);
    }
    return wide;
}

class IcmpEchoHandle final : public EchoHandle {
  public:
    explicit IcmpEchoHandle(HANDLE handle) : handle_(handle) {}
    IcmpEchoHandle(const IcmpEchoHandle&) = delete;
    IcmpEchoHandle& operator=(const IcmpEchoHandle&) = delete;
    ~IcmpEchoHandle() override { ::IcmpCloseHandle(handle_); }

    std::uint32_t sendEcho(Ipv4Value destination, std::span<const std::uint8_t> data,
                           std::uint32_t waitMilliseconds,
                           EchoReplyRecord& reply) noexcept override {
        // Sent to, 0.0.0.0 fails without touching the record, which would then read as success.
        if (destination == 0) {
            reply.setStatus(ip_status::badDestination);
            return 0;
        }
        // Room for one reply, its echoed data, and the 8 bytes of an ICMP error the library
        // asks for beyond them.
        alignas(ICMP_ECHO_REPLY)
            std::uint8_t buffer[sizeof(ICMP_ECHO_REPLY) + EchoReplyRecord::dataAreaSize + 8] = {};
        // IPAddr holds the address in network order, as our value's bytes are in memory.
        const DWORD count =
            ::IcmpSendEcho(handle_, static_cast<IPAddr>(destination),
                           const_cast<std::uint8_t*>(data.data()), static_cast<WORD>(data.size()),
                           nullptr, buffer, sizeof buffer, static_cast<DWORD>(waitMilliseconds));
        if (count == 0) {
            const DWORD error = ::GetLastError();
            reply.setStatus(isIpStatus(error) ? error : ip_status::generalFailure);
            return 0;
        }
        ICMP_ECHO_REPLY echo;
        std::memcpy(&echo, buffer, sizeof echo);
        reply.setAddress(echo.Address);
        reply.setStatus(echo.Status);
        reply.setRoundTripTime(echo.RoundTripTime);
        reply.setTtl(echo.Options.Ttl);
        // The echoed data lies inside our buffer; anything claiming otherwise is not copied.
        // Compared as offsets: a pointer formed past the buffer would already be undefined.
        const auto at = reinterpret_cast<std::uintptr_t>(echo.Data);
        const auto start = reinterpret_cast<std::uintptr_t>(buffer);
        if (at >= start && at - start <= sizeof buffer &&
            echo.DataSize <= sizeof buffer - (at - start)) {
            reply.setData({buffer + (at - start), echo.DataSize});
        }
        return count;
    }

  private:
    HANDLE handle_;
};

class Win32Platform final : public Platform {
  public:
    Win32Platform() = default;
    Win32Platform(const Win32Platform&) = delete;
    Win32Platform& operator=(const Win32Platform&) = delete;
    ~Win32Platform() override {
        // Completions still to come would write into these: they stay with the process.
        for (auto& lookup : abandoned_) {
            static_cast<void>(lookup.release());
        }
    }

    bool startup() noexcept override {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(1, 1), &data) == 0;
    }
    void cleanup() noexcept override { ::WSACleanup(); }

    std::unique_ptr<EchoHandle> openEcho() noexcept override {
        const HANDLE handle = ::IcmpCreateFile();
        if (handle == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        try {
            return std::make_unique<IcmpEchoHandle>(handle);
        } catch (...) {
            ::IcmpCloseHandle(handle);
            return nullptr;
        }
    }

    std::optional<Ipv4Value> resolveFirstIpv4(const std::string& name,
                                              std::uint32_t waitMilliseconds) noexcept override {
        // The empty name is this machine itself to the resolver, and a NUL inside the text
        // would silently resolve a shorter name: neither is a name the operator gave.
        if (name.empty() || name.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        try {
            std::erase_if(abandoned_, [](const auto& lookup) { return lookup->completed(); });
            auto lookup = std::make_unique<Lookup>();
            lookup->name = fromUtf8(name);
            lookup->overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
            if (lookup->name.empty() || lookup->overlapped.hEvent == nullptr) {
                return std::nullopt;
            }
            ADDRINFOEXW hints{};
            hints.ai_family = AF_INET;
            // The room to keep a lookup that outlives its wait is made before Windows writes
            // into it: a push_back that throws afterwards would free memory still being written.
            abandoned_.reserve(abandoned_.size() + 1);
            const INT started =
                ::GetAddrInfoExW(lookup->name.c_str(), nullptr, NS_ALL, nullptr, &hints,
                                 &lookup->result, nullptr, &lookup->overlapped, nullptr, nullptr);
            if (started == WSA_IO_PENDING) {
                // The bound comes from this wait: Wine ignores the call's own time-out.
                if (::WaitForSingleObject(lookup->overlapped.hEvent, waitMilliseconds) !=
                    WAIT_OBJECT_0) {
                    WSADATA data{};
                    lookup->holdsWinsock = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
                    abandoned_.push_back(std::move(lookup));
                    return std::nullopt;
                }
                // What GetAddrInfoExOverlappedResult would read.
                if (lookup->overlapped.Internal != 0) {
                    return std::nullopt;
                }
            } else if (started != NO_ERROR) {
                return std::nullopt;
            }
            // mingw-w64 declares the link under another name of the same struct.
            for (const ADDRINFOEXW* entry = lookup->result; entry != nullptr;
                 entry = reinterpret_cast<const ADDRINFOEXW*>(entry->ai_next)) {
                if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
                    sockaddr_in address{};
                    std::memcpy(&address, entry->ai_addr, sizeof address);
                    return static_cast<Ipv4Value>(address.sin_addr.S_un.S_addr);
                }
            }
            return std::nullopt;
        } catch (...) {
            return std::nullopt;
        }
    }

    std::string addressToText(Ipv4Value address) noexcept override {
        in_addr raw{};
        raw.S_un.S_addr = address;
        const char* text = ::inet_ntoa(raw);
        try {
            return text != nullptr ? std::string(text) : std::string();
        } catch (...) {
            return {};
        }
    }

  private:
    std::vector<std::unique_ptr<Lookup>> abandoned_;
};

} // namespace

std::unique_ptr<Platform> makeSystemPlatform() {
    return std::make_unique<Win32Platform>();
}

} // namespace tarnvik
