// SPDX-License-Identifier: MIT
#include "arp_frame.h"

#include <algorithm>

namespace tarnvik {

namespace {

constexpr std::uint8_t kArpType[] = {0x08, 0x06};
// Ethernet, IPv4, 6- and 4-byte addresses.
constexpr std::uint8_t kArpOverEthernet[] = {0x00, 0x01, 0x08, 0x00, 6, 4};
constexpr std::uint8_t kRequest = 1;
constexpr std::uint8_t kReply = 2;

template <typename Bytes> std::uint8_t* put(std::uint8_t* at, const Bytes& bytes) {
    return std::copy(std::begin(bytes), std::end(bytes), at);
}

template <typename Bytes> bool same(std::span<const std::uint8_t> at, const Bytes& bytes) {
    return std::equal(std::begin(bytes), std::end(bytes), at.begin());
}

} // namespace

std::array<std::uint8_t, kArpFrameSize> arpRequestFrame(const LinkBytes& ownLink,
                                                        const AddressBytes& ownAddress,
                                                        const AddressBytes& asked,
                                                        const LinkBytes& to) {
    std::array<std::uint8_t, kArpFrameSize> frame{};
    auto* at = put(frame.data(), to);
    at = put(at, ownLink);
    at = put(at, kArpType);
    at = put(at, kArpOverEthernet);
    *at++ = 0;
    *at++ = kRequest;
    at = put(at, ownLink);
    at = put(at, ownAddress);
    at = put(at, LinkBytes{}); // the target's hardware address is what is asked
    put(at, asked);
    return frame;
}

namespace {

constexpr std::uint8_t kIpv6Type[] = {0x86, 0xdd};
constexpr std::uint8_t kIcmpv6 = 58;
constexpr std::uint8_t kSolicitation = 135;
constexpr std::uint8_t kAdvertisement = 136;
constexpr std::uint8_t kNeighbourMessageLength = 32; // the message with its one option

// A neighbour discovery message from this interface's `ownAddress` at `ownLink` to `toAddress`
// at `to`, about `target`, with one link-layer address option (1: the source's, 2: the
// target's) naming `ownLink`.
std::array<std::uint8_t, kNeighbourFrameSize>
neighbourFrame(std::uint8_t type, std::uint8_t flags, const LinkBytes& ownLink,
               const Ipv6Bytes& ownAddress, const Ipv6Bytes& toAddress, const LinkBytes& to,
               const Ipv6Bytes& target, std::uint8_t option) {
    std::array<std::uint8_t, kNeighbourFrameSize> frame{};
    auto* at = put(frame.data(), to);
    at = put(at, ownLink);
    at = put(at, kIpv6Type);
    auto* const ip = at;
    ip[0] = 0x60;
    ip[5] = kNeighbourMessageLength;
    ip[6] = kIcmpv6;
    ip[7] = 255; // neighbour discovery counts only from the link itself
    put(put(ip + 8, ownAddress), toAddress);
    auto* const message = ip + 40;
    message[0] = type;
    message[4] = flags;
    at = put(message + 8, target);
    *at++ = option;
    *at++ = 1; // 8 bytes
    put(at, ownLink);
    // The checksum over the pseudo-header (addresses, length, next header) and the message.
    std::uint32_t sum = kNeighbourMessageLength + kIcmpv6;
    const auto add = [&sum](const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; i += 2) {
            sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
        }
    };
    add(ip + 8, 32);
    add(message, kNeighbourMessageLength);
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    const auto checksum = static_cast<std::uint16_t>(~sum);
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
    return frame;
}

} // namespace

std::array<std::uint8_t, kNeighbourFrameSize>
neighbourAdvertisementFrame(const LinkBytes& ownLink, const Ipv6Bytes& ownAddress,
                            const Ipv6Bytes& toAddress, const LinkBytes& to, bool router) {
    // Override: neither a router's nor solicited.
    // Override; the router flag as this host is one or not (a clear one tells a neighbour to drop
    // us as its router).
    return neighbourFrame(kAdvertisement, router ? 0xa0 : 0x20, ownLink, ownAddress, toAddress, to,
                          ownAddress, 2);
}

std::array<std::uint8_t, kNeighbourFrameSize>
neighbourSolicitationFrame(const LinkBytes& ownLink, const Ipv6Bytes& ownAddress,
                           const Ipv6Bytes& asked, const LinkBytes& to) {
    // Unicast to the address asked, as a reachability check is.
    return neighbourFrame(kSolicitation, 0, ownLink, ownAddress, asked, to, asked, 1);
}

bool answersSolicitation(std::span<const std::uint8_t> frame, const Ipv6Bytes& asked,
                         const LinkBytes& to) {
    constexpr std::size_t kAdvertisementStart = 14 + 40;
    if (frame.size() < kAdvertisementStart + 24) {
        return false;
    }
    const auto message = frame.subspan(kAdvertisementStart);
    return same(frame.subspan(6), to) && same(frame.subspan(12), kIpv6Type) &&
           frame[14 + 6] == kIcmpv6 && frame[14 + 7] == 255 && message[0] == kAdvertisement &&
           (message[4] & 0x40) != 0 && same(message.subspan(8), asked);
}

bool answersArpRequest(std::span<const std::uint8_t> frame, const AddressBytes& asked,
                       const LinkBytes& to) {
    if (frame.size() < kArpFrameSize) {
        return false;
    }
    return same(frame.subspan(6), to) && same(frame.subspan(12), kArpType) &&
           same(frame.subspan(14), kArpOverEthernet) && frame[20] == 0 && frame[21] == kReply &&
           same(frame.subspan(22), to) && same(frame.subspan(28), asked);
}

} // namespace tarnvik
