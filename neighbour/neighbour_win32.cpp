// SPDX-License-Identifier: MIT
// The route and the neighbour entry through the IP helper: GetBestRoute for the destination, then
// GetIpNetTable2 for its next hop. (GetBestRoute2 and GetIpNetEntry2 are missing from Wine.)
#include "neighbour.h"

// Winsock 2 before windows.h, and both before the IP helper's headers.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <windows.h>

#include <iphlpapi.h>

#include <memory>
#include <vector>

namespace tarnvik {

namespace {

const char* stateWord(NL_NEIGHBOR_STATE state) {
    switch (state) {
    case NlnsUnreachable:
        return "FAILED";
    case NlnsIncomplete:
        return "INCOMPLETE";
    case NlnsProbe:
        return "PROBE";
    case NlnsDelay:
        return "DELAY";
    case NlnsStale:
        return "STALE";
    case NlnsReachable:
        return "REACHABLE";
    case NlnsPermanent:
        return "PERMANENT";
    default:
        return "none";
    }
}

bool isOwnAddress(Ipv4Value address) {
    ULONG size = 0;
    ::GetIpAddrTable(nullptr, &size, FALSE);
    std::vector<unsigned char> buffer(size);
    auto* table = reinterpret_cast<MIB_IPADDRTABLE*>(buffer.data());
    if (size == 0 || ::GetIpAddrTable(table, &size, FALSE) != NO_ERROR) {
        return false;
    }
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        if (table->table[i].dwAddr == address) {
            return true;
        }
    }
    return false;
}

struct TableDeleter {
    void operator()(MIB_IPNET_TABLE2* table) const { ::FreeMibTable(table); }
};

} // namespace

int readNeighbour(Ipv4Value destination, NeighbourReading& reading) {
    reading = NeighbourReading{};
    if (isOwnAddress(destination)) {
        reading.local = true;
        return 0;
    }
    MIB_IPFORWARDROW route{};
    if (const DWORD error = ::GetBestRoute(destination, 0, &route); error != NO_ERROR) {
        return static_cast<int>(error);
    }
    // A direct route names the interface's own address as its next hop: the hop is then the
    // destination itself.
    reading.nextHop =
        route.dwForwardType == MIB_IPROUTE_TYPE_INDIRECT ? route.dwForwardNextHop : destination;
    MIB_IPNET_TABLE2* raw = nullptr;
    if (const DWORD error = ::GetIpNetTable2(AF_INET, &raw); error != NO_ERROR) {
        // An empty table is no failure: the entry is simply not there.
        return error == ERROR_NOT_FOUND ? 0 : static_cast<int>(error);
    }
    const std::unique_ptr<MIB_IPNET_TABLE2, TableDeleter> table(raw);
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.InterfaceIndex != route.dwForwardIfIndex ||
            row.Address.Ipv4.sin_addr.S_un.S_addr != reading.nextHop) {
            continue;
        }
        reading.state = stateWord(row.State);
        if (row.State != NlnsIncomplete && row.State != NlnsUnreachable) {
            reading.linkAddress = linkAddressText({row.PhysicalAddress, row.PhysicalAddressLength});
        }
        break;
    }
    return 0;
}

} // namespace tarnvik
