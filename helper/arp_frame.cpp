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
