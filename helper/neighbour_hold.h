// SPDX-License-Identifier: MIT
// Holding one neighbour entry as a permanent one, so that forged ARP replies no longer change it,
// and releasing such a hold again. Holds carry a protocol mark of their own, so that only our
// own entries are ever replaced or released.
//
// Whoever calls, root included, a hold is made only where the guard needs one: the address is
// the gateway of a route through that interface, or (IPv4) an on-link address there whose entry
// was learnt (or is ours already); and an entry that an administrator made static (permanent or
// no-ARP, without our mark) is never replaced. An IPv6 address (a router's) is held only as a
// route's gateway, and marked as a router's entry.
#pragma once

#include "neighbour_flush.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace tarnvik {

// The neighbour entry's protocol (NDA_PROTOCOL) that marks Tarnvik's holds.
inline constexpr std::uint8_t kHoldProtocol = 249;

// Replaces the entry for `address` (network order: 4 bytes IPv4, 16 IPv6) on `interfaceIndex` by
// a permanent one for `linkAddress`, if the rules above allow it; otherwise `refusal` says which
// rule refused.
NeighbourOutcome holdNeighbour(int interfaceIndex, std::span<const std::uint8_t> address,
                               const std::array<std::uint8_t, 6>& linkAddress);

// Whether `address` (4 or 16 bytes) is the gateway of a route through `interfaceIndex`, any of its
// next hops; 0 or the error that stopped the reading.
int gatewayOfARoute(int interfaceIndex, std::span<const std::uint8_t> address, bool& gateway);

// Deletes our entry for `address` on `interfaceIndex` if it holds `linkAddress`: the hold its
// record names, and no other (another user's hold of the same gateway, an administrator's entry).
NeighbourOutcome releaseHeldNeighbour(int interfaceIndex, std::span<const std::uint8_t> address,
                                      const std::array<std::uint8_t, 6>& linkAddress);

} // namespace tarnvik
