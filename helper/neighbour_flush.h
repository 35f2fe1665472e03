// SPDX-License-Identifier: MIT
// Deleting the machine's IPv4 neighbour (ARP) entries through rtnetlink: the learnt ones, as
// `ip -4 neigh flush all` does, or any that a choice picks. The only privileged code of the
// project, with the hold of neighbour_hold.h.
#pragma once

#include "netlink.h"

#include <functional>
#include <string>

namespace tarnvik {

struct NeighbourOutcome {
    int error = 0;       // 0, or the errno that stopped it
    std::string failure; // what failed, for one line of report
    int deleted = 0;
    // A rule refused the change, and why (the table is left as it was).
    std::string refusal;
};

// Deletes every IPv4 entry that `chosen` picks from its header and attributes, all listed in one
// dump first; an entry gone meanwhile counts as deleted. `failure` says what a failed deletion
// failed to do.
using NeighbourChoice =
    std::function<bool(const ndmsg& header, const netlink::NeighbourAttributes&)>;
NeighbourOutcome deleteIpv4Neighbours(NeighbourChoice chosen, const std::string& failure);

// The same for the entries of `family` (AF_INET or AF_INET6).
NeighbourOutcome deleteNeighbours(std::uint8_t family, NeighbourChoice chosen,
                                  const std::string& failure);

// The learnt entries: permanent and no-ARP ones stay.
NeighbourOutcome flushIpv4Neighbours();
// The learnt IPv6 entries (the neighbour discovery cache), as `ip -6 neigh flush all` does.
NeighbourOutcome flushNeighbours(std::uint8_t family);

} // namespace tarnvik
