// SPDX-License-Identifier: MIT
// Holding one neighbour entry as a permanent one, so that forged ARP replies no longer change it,
// and releasing every hold again. Holds carry a protocol mark of their own, so that a hold that a
// killed run left behind is recognised as ours and nothing else is ever released.
#pragma once

#include "neighbour_flush.h"

#include <array>
#include <cstdint>
#include <string>

namespace tarnvik {

// The neighbour entry's protocol (NDA_PROTOCOL) that marks Tarnvik's holds.
inline constexpr std::uint8_t kHoldProtocol = 249;

// Replaces the entry for `address` (4 bytes, network order) on `interfaceIndex` by a permanent
// one for `linkAddress`.
NeighbourOutcome holdNeighbour(int interfaceIndex, const std::array<std::uint8_t, 4>& address,
                               const std::array<std::uint8_t, 6>& linkAddress);

// Deletes every IPv4 entry that carries our mark.
NeighbourOutcome releaseHeldNeighbours();

} // namespace tarnvik
