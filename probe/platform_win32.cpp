// SPDX-License-Identifier: MIT
// The echo client's platform on Windows: Winsock for start-up and names, the ICMP library for the
// echo itself. The only file of the client that includes a Windows header.
#include "platform.h"

// Winsock 2 before windows.h, and both before the ICMP library's headers, which need them.
#include <winsock2.h>

#include <windows.h>

#include <iphlpapi.h>

#include <icmpapi.h>

#include <cstring>

namespace tarnvik {

namespace {

// Status numbers of the ICMP library lie between IP_STATUS_BASE and IP_GENERAL_FAILURE; any
// other last error means the request could not be made at all.
bool isIpStatus(DWORD error) {
    return error >= IP_STATUS_BASE && error <= IP_GENERAL_FAILURE;
}

// Text in the system's ANSI code page, as the resolver takes it; nothing when a character has no
// exact form there, so that no other name is ever asked for in its place.
std::optional<std::string> toAnsi(const std::string& utf8) {
    const int wideLength = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(),
                                                 static_cast<int>(utf8.size()), nullptr, 0);
    if (wideLength <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), static_cast<int>(utf8.size()),
                          wide.data(), wideLength);
    BOOL lossy = FALSE;
    const int length = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength,
                                             nullptr, 0, nullptr, &lossy);
    if (length <= 0 || lossy) {
        return std::nullopt;
    }
    std::string ansi(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), wideLength, ansi.data(),
                          length, nullptr, nullptr);
    return ansi;
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
        const auto* echoed = static_cast<const std::uint8_t*>(echo.Data);
        if (echoed >= buffer && echoed + echo.DataSize <= buffer + sizeof buffer) {
            reply.setData({echoed, echo.DataSize});
        }
        return count;
    }

  private:
    HANDLE handle_;
};

class Win32Platform final : public Platform {
  public:
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

    std::optional<Ipv4Value> resolveFirstIpv4(const std::string& name) noexcept override {
        // The empty name is this machine itself to gethostbyname, and a NUL inside the text
        // would silently resolve a shorter name: neither is a name the operator gave.
        if (name.empty() || name.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        try {
            const auto ansi = toAnsi(name);
            if (!ansi) {
                return std::nullopt;
            }
            const hostent* found = ::gethostbyname(ansi->c_str());
            if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
                found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
                return std::nullopt;
            }
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(found->h_addr_list[0]);
            return ipv4FromOctets(bytes[0], bytes[1], bytes[2], bytes[3]);
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
};

} // namespace

std::unique_ptr<Platform> makeSystemPlatform() {
    return std::make_unique<Win32Platform>();
}

} // namespace tarnvik
