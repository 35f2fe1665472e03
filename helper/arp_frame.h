// SPDX-License-Identifier: MIT
// The frames the ARP helper sends, and what counts as an answer: pure functions over bytes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tarnvik {

using LinkBytes = std::array<std::uint8_t, 6>;
using AddressBytes = std::array<std::uint8_t, 4>;
using Ipv6Bytes = std::array<std::uint8_t, 16>;

inline constexpr std::size_t kArpFrameSize = 42; // Ethernet header and ARP over IPv4

// An ARP request for `asked`, sent to `to` alone, from this interface's own `ownLink` and
// `ownAddress`.
std::array<std::uint8_t, kArpFrameSize> arpRequestFrame(const LinkBytes& ownLink,
                                                        const AddressBytes& ownAddress,
                                                        const AddressBytes& asked,
                                                        const LinkBytes& to);

inline constexpr std::size_t kNeighbourFrameSize = 14 + 40 + 32;

// An unsolicited neighbour advertisement with the override flag, sent to `to` (an IPv6 router's
// link-local address `toAddress`) alone: this interface's `ownAddress` is at `ownLink`.
std::array<std::uint8_t, kNeighbourFrameSize>
neighbourAdvertisementFrame(const LinkBytes& ownLink, const Ipv6Bytes& ownAddress,
                            const Ipv6Bytes& toAddress, const LinkBytes& to, bool router);

// A neighbour solicitation for `asked`, sent to it at `to` alone, from this interface's own
// `ownLink` and link-local `ownAddress`.
std::array<std::uint8_t, kNeighbourFrameSize>
neighbourSolicitationFrame(const LinkBytes& ownLink, const Ipv6Bytes& ownAddress,
                           const Ipv6Bytes& asked, const LinkBytes& to);

// Whether `frame` answers that solicitation: a solicited neighbour advertisement from `to` (its
// Ethernet source) for `asked`, sent on the link itself (hop limit 255).
bool answersSolicitation(std::span<const std::uint8_t> frame, const Ipv6Bytes& asked,
                         const LinkBytes& to);

// Whether `frame` is the answer to that request: an ARP reply from `to` (its Ethernet source
// and its sender hardware address) for `asked`.
bool answersArpRequest(std::span<const std::uint8_t> frame, const AddressBytes& asked,
                       const LinkBytes& to);

} // namespace tarnvik
