// SPDX-License-Identifier: MIT
// The route and the neighbour entry through the IP helper: GetBestRoute for the destination, then
// GetIpNetTable2 for its next hop. (GetBestRoute2 and GetIpNetEntry2 are missing from Wine, and
// NotifyIpNetEntryChange does not exist: Windows gives no notification of neighbour entries, so
// the window reads once a tick instead.)
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
using Table = std::unique_ptr<MIB_IPNET_TABLE2, TableDeleter>;

// The IPv4 neighbour table; an empty one (ERROR_NOT_FOUND) is no failure.
DWORD readTable(Table& table) {
    MIB_IPNET_TABLE2* raw = nullptr;
    const DWORD error = ::GetIpNetTable2(AF_INET, &raw);
    table.reset(error == NO_ERROR ? raw : nullptr);
    return error == ERROR_NOT_FOUND ? NO_ERROR : error;
}

std::string linkAddressOf(const MIB_IPNET_ROW2& row) {
    if (row.State == NlnsIncomplete || row.State == NlnsUnreachable) {
        return {};
    }
    return linkAddressText({row.PhysicalAddress, row.PhysicalAddressLength});
}

} // namespace

std::string interfaceLinkAddress(int interfaceIndex) {
    MIB_IF_ROW2 row{};
    row.InterfaceIndex = static_cast<NET_IFINDEX>(interfaceIndex);
    if (::GetIfEntry2(&row) != NO_ERROR) {
        return {};
    }
    return linkAddressText({row.PhysicalAddress, row.PhysicalAddressLength});
}

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
    reading.interfaceIndex = static_cast<int>(route.dwForwardIfIndex);
    Table table;
    if (const DWORD error = readTable(table); error != NO_ERROR) {
        return static_cast<int>(error);
    }
    for (ULONG i = 0; table && i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        if (row.InterfaceIndex != route.dwForwardIfIndex ||
            row.Address.Ipv4.sin_addr.S_un.S_addr != reading.nextHop) {
            continue;
        }
        reading.state = stateWord(row.State);
        reading.linkAddress = linkAddressOf(row);
        break;
    }
    return 0;
}

std::optional<Ipv4Value> neighbourWithLinkAddress(int interfaceIndex, Ipv4Value besides,
                                                  const std::string& linkAddress) {
    Table table;
    if (linkAddress.empty() || readTable(table) != NO_ERROR) {
        return std::nullopt;
    }
    for (ULONG i = 0; table && i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        const Ipv4Value address = row.Address.Ipv4.sin_addr.S_un.S_addr;
        if (static_cast<int>(row.InterfaceIndex) == interfaceIndex && address != besides &&
            linkAddressOf(row) == linkAddress) {
            return address;
        }
    }
    return std::nullopt;
}

struct NeighbourEvents::Channel {};

NeighbourEvents::NeighbourEvents() = default;
NeighbourEvents::~NeighbourEvents() = default;

int NeighbourEvents::descriptor() const {
    return -1;
}

void NeighbourEvents::drain(const std::function<void(const NeighbourChange&)>& /*onChange*/) {}

int NeighbourEvents::follow(std::span<const Ipv4Value> /*addresses*/) {
    return 0;
}

} // namespace tarnvik
