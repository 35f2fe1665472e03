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

std::array<std::uint8_t, kAdvertisementFrameSize>
neighbourAdvertisementFrame(const LinkBytes& ownLink, const Ipv6Bytes& ownAddress,
                            const Ipv6Bytes& toAddress, const LinkBytes& to) {
    constexpr std::uint8_t kIpv6Type[] = {0x86, 0xdd};
    constexpr std::uint8_t kIcmpv6 = 58;
    constexpr std::uint8_t kLength = 32; // the advertisement with its one option
    std::array<std::uint8_t, kAdvertisementFrameSize> frame{};
    auto* at = put(frame.data(), to);
    at = put(at, ownLink);
    at = put(at, kIpv6Type);
    auto* const ip = at;
    ip[0] = 0x60;
    ip[5] = kLength;
    ip[6] = kIcmpv6;
    ip[7] = 255; // neighbour discovery counts only from the link itself
    put(put(ip + 8, ownAddress), toAddress);
    auto* const message = ip + 40;
    message[0] = 136;  // neighbour advertisement
    message[4] = 0x20; // override: neither a router's nor solicited
    at = put(message + 8, ownAddress);
    *at++ = 2; // target link-layer address option, 8 bytes
    *at++ = 1;
    put(at, ownLink);
    // The checksum over the pseudo-header (addresses, length, next header) and the message.
    std::uint32_t sum = kLength + kIcmpv6;
    const auto add = [&sum](const std::uint8_t* bytes, std::size_t size) {
        for (std::size_t i = 0; i < size; i += 2) {
            sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
        }
    };
    add(ip + 8, 32);
    add(message, kLength);
    while (sum >> 16) {
        sum = (sum & 0xffff) + (sum >> 16);
    }
    const auto checksum = static_cast<std::uint16_t>(~sum);
    message[2] = static_cast<std::uint8_t>(checksum >> 8);
    message[3] = static_cast<std::uint8_t>(checksum);
    return frame;
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
