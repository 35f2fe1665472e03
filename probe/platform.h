// SPDX-License-Identifier: MIT
// The narrow seam between the echo client and the operating system. The client asks for nothing
// else of the platform, so tests replace the whole of it with a scripted one.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace tarnvik {

// IP status codes of an echo, numbered as the well-known ICMP library numbers them so that
// figures read the same everywhere.
namespace ip_status {
inline constexpr std::uint32_t success = 0;
inline constexpr std::uint32_t destNetUnreachable = 11002;
inline constexpr std::uint32_t destHostUnreachable = 11003;
inline constexpr std::uint32_t destProtocolUnreachable = 11004;
inline constexpr std::uint32_t destPortUnreachable = 11005;
inline constexpr std::uint32_t noResources = 11006;
inline constexpr std::uint32_t packetTooBig = 11009;
inline constexpr std::uint32_t timedOut = 11010;
inline constexpr std::uint32_t badRoute = 11012;
inline constexpr std::uint32_t ttlExpiredTransit = 11013;
inline constexpr std::uint32_t ttlExpiredReassembly = 11014;
inline constexpr std::uint32_t parameterProblem = 11015;
inline constexpr std::uint32_t badDestination = 11018;
inline constexpr std::uint32_t generalFailure = 11050;
} // namespace ip_status

// An IPv4 address as a 32-bit value whose lowest byte is the first dotted part, so that stored
// little-endian its bytes are in network order. 10.0.0.1 has the bytes 10, 0, 0, 1 from the
// least significant upward.
using Ipv4Value = std::uint32_t;

inline std::array<std::uint8_t, 4> ipv4Octets(Ipv4Value value) {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
}

inline Ipv4Value ipv4FromOctets(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return Ipv4Value{a} | Ipv4Value{b} << 8 | Ipv4Value{c} << 16 | Ipv4Value{d} << 24;
}

// The 278-byte echo reply record: the 28-byte published reply layout (little-endian) followed by
// a 250-byte data area. Kept as bytes so its size and offsets are exact on every target.
class EchoReplyRecord {
  public:
    static constexpr std::size_t size = 278;
    static constexpr std::size_t dataAreaOffset = 28;
    static constexpr std::size_t dataAreaSize = size - dataAreaOffset;

    Ipv4Value address() const { return read32(0); }
    void setAddress(Ipv4Value value) { write32(0, value); }
    std::uint32_t status() const { return read32(4); }
    void setStatus(std::uint32_t value) { write32(4, value); }
    std::uint32_t roundTripTime() const { return read32(8); }
    void setRoundTripTime(std::uint32_t value) { write32(8, value); }
    std::uint16_t dataSize() const {
        return static_cast<std::uint16_t>(bytes_[12] | bytes_[13] << 8);
    }
    std::uint8_t ttl() const { return bytes_[20]; }
    void setTtl(std::uint8_t value) { bytes_[20] = value; }

    // Copies the echoed data into the data area, as much as fits, and records its size.
    void setData(std::span<const std::uint8_t> data) {
        const std::size_t n = data.size() < dataAreaSize ? data.size() : dataAreaSize;
        if (n > 0) {
            std::memcpy(bytes_.data() + dataAreaOffset, data.data(), n);
        }
        bytes_[12] = static_cast<std::uint8_t>(n);
        bytes_[13] = static_cast<std::uint8_t>(n >> 8);
    }
    std::span<const std::uint8_t> data() const {
        return {bytes_.data() + dataAreaOffset, dataSize()};
    }

    void clear() { bytes_.fill(0); }
    std::span<const std::uint8_t, size> bytes() const { return bytes_; }

  private:
    std::uint32_t read32(std::size_t at) const {
        return std::uint32_t{bytes_[at]} | std::uint32_t{bytes_[at + 1]} << 8 |
               std::uint32_t{bytes_[at + 2]} << 16 | std::uint32_t{bytes_[at + 3]} << 24;
    }
    void write32(std::size_t at, std::uint32_t value) {
        for (std::size_t i = 0; i < 4; ++i) {
            bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
        }
    }
    std::array<std::uint8_t, size> bytes_{};
};

// One open echo handle. Destroying it closes it.
class EchoHandle {
  public:
    virtual ~EchoHandle() = default;

    // Sends one echo request with `data` to `destination` and waits up to `waitMilliseconds`
    // (an unsigned 32-bit count) for its answer. Returns the number of reply records written:
    // 1 for an echo reply or an error about this request, 0 for none. The record's status is
    // 0 only for an answered echo and nonzero on every other outcome.
    virtual std::uint32_t sendEcho(Ipv4Value destination, std::span<const std::uint8_t> data,
                                   std::uint32_t waitMilliseconds,
                                   EchoReplyRecord& reply) noexcept = 0;
};

class Platform {
  public:
    virtual ~Platform() = default;

    // Network library start-up for one operation; false when it cannot be had.
    virtual bool startup() noexcept = 0;
    // Undoes one successful start-up.
    virtual void cleanup() noexcept = 0;

    // May return null when no handle can be opened at all.
    virtual std::unique_ptr<EchoHandle> openEcho() noexcept = 0;

    // The first IPv4 address of `name` in the order the system's own lookup gives (hosts file,
    // then DNS), or nothing. Gives up after `waitMilliseconds` (an unsigned 32-bit count), as if
    // the name did not resolve, and leaves nothing of the lookup running in its caller's way.
    virtual std::optional<Ipv4Value> resolveFirstIpv4(const std::string& name,
                                                      std::uint32_t waitMilliseconds) noexcept = 0;

    // Dotted-decimal text of an address: four numbers without leading zeros.
    virtual std::string addressToText(Ipv4Value address) noexcept = 0;
};

// The platform of the machine the program runs on.
std::unique_ptr<Platform> makeSystemPlatform();

// Which kind of echo socket this process may open here: the unprivileged ping socket, the raw
// socket (needs CAP_NET_RAW), or neither. For start-up diagnostics and tests.
enum class EchoSocketKind { Datagram, Raw, None };
EchoSocketKind systemEchoSocketKind() noexcept;

} // namespace tarnvik
