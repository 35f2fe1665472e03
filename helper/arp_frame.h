// SPDX-License-Identifier: MIT
// The one frame the ARP helper sends, and what counts as its answer: pure functions over bytes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tarnvik {

using LinkBytes = std::array<std::uint8_t, 6>;
using AddressBytes = std::array<std::uint8_t, 4>;

inline constexpr std::size_t kArpFrameSize = 42; // Ethernet header and ARP over IPv4

// An ARP request for `asked`, sent to `to` alone, from this interface's own `ownLink` and
// `ownAddress`.
std::array<std::uint8_t, kArpFrameSize> arpRequestFrame(const LinkBytes& ownLink,
                                                        const AddressBytes& ownAddress,
                                                        const AddressBytes& asked,
                                                        const LinkBytes& to);

// Whether `frame` is the answer to that request: an ARP reply from `to` (its Ethernet source
// and its sender hardware address) for `asked`.
bool answersArpRequest(std::span<const std::uint8_t> frame, const AddressBytes& asked,
                       const LinkBytes& to);

} // namespace tarnvik
