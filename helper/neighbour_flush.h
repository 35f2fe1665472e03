// SPDX-License-Identifier: MIT
// Deleting the machine's IPv4 neighbour (ARP) entries that are not permanent, as
// `ip -4 neigh flush all` does, through rtnetlink. The only privileged code of the project.
#pragma once

#include <string>

namespace tarnvik {

struct FlushOutcome {
    int error = 0;       // 0, or the errno that stopped the flush
    std::string failure; // what failed, for one line of report
    int deleted = 0;
};

FlushOutcome flushIpv4Neighbours();

} // namespace tarnvik
