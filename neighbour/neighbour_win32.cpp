// SPDX-License-Identifier: MIT
// The route and the neighbour entry through the IP helper: GetBestRoute for the destination, then
// GetIpNetTable2 for its next hop. (GetBestRoute2 and GetIpNetEntry2 are missing from Wine, and
// NotifyIpNetEntryChange does not exist: Windows gives no notification of neighbour entries, so
// the window reads once a tick instead.)
#include "neighbour.h"

// Winsock 2 before windows.h, and both before the IP helper's headers.
#include <winsock2.h>
#include <ws2ipdef.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <iphlpapi.h>

#include <cstring>
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

// The IPv4 (or IPv6) neighbour table; an empty one (ERROR_NOT_FOUND) is no failure.
DWORD readTable(Table& table, ADDRESS_FAMILY family = AF_INET) {
    MIB_IPNET_TABLE2* raw = nullptr;
    const DWORD error = ::GetIpNetTable2(family, &raw);
    table.reset(error == NO_ERROR ? raw : nullptr);
    return error == ERROR_NOT_FOUND ? NO_ERROR : error;
}

std::string linkAddressOf(const MIB_IPNET_ROW2& row) {
    if (row.State == NlnsIncomplete || row.State == NlnsUnreachable) {
        return {};
    }
    return linkAddressText({row.PhysicalAddress, row.PhysicalAddressLength});
}

struct RoutesDeleter {
    void operator()(MIB_IPFORWARD_TABLE2* table) const { ::FreeMibTable(table); }
};

} // namespace

int readIpv6Routers(std::vector<Ipv6Router>& routers, const std::vector<Ipv6Router>& alsoEntries) {
    routers.clear();
    MIB_IPFORWARD_TABLE2* raw = nullptr;
    if (const DWORD error = ::GetIpForwardTable2(AF_INET6, &raw); error != NO_ERROR) {
        return error == ERROR_NOT_FOUND ? 0 : static_cast<int>(error);
    }
    const std::unique_ptr<MIB_IPFORWARD_TABLE2, RoutesDeleter> routes(raw);
    static const Ipv6Address kNone{};
    for (ULONG i = 0; i < routes->NumEntries; ++i) {
        const auto& row = routes->Table[i];
        Ipv6Router router;
        router.interfaceIndex = static_cast<int>(row.InterfaceIndex);
        std::memcpy(router.address.data(), &row.NextHop.Ipv6.sin6_addr, 16);
        if (row.DestinationPrefix.PrefixLength == 0 && router.address != kNone) {
            routers.push_back(router);
        }
    }
    addUnrouted(routers, alsoEntries);
    Table table;
    if (routers.empty() || readTable(table, AF_INET6) != NO_ERROR || !table) {
        return 0;
    }
    for (auto& router : routers) {
        for (ULONG i = 0; i < table->NumEntries; ++i) {
            const auto& row = table->Table[i];
            if (static_cast<int>(row.InterfaceIndex) == router.interfaceIndex &&
                std::memcmp(&row.Address.Ipv6.sin6_addr, router.address.data(), 16) == 0) {
                router.state = stateWord(row.State);
                router.linkAddress = linkAddressOf(row);
            }
        }
    }
    return 0;
}

// Windows names a link-local address's zone by its interface index: "fe80::1%12".
std::string ipv6Text(const Ipv6Address& address, int interfaceIndex) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address.data(), text, sizeof text);
    std::string out = text;
    if (address[0] == 0xfe && (address[1] & 0xc0) == 0x80 && interfaceIndex > 0) {
        out += "%" + std::to_string(interfaceIndex);
    }
    return out;
}

std::string interfaceName(int interfaceIndex) {
    NET_LUID luid{};
    wchar_t alias[NDIS_IF_MAX_STRING_SIZE + 1] = {};
    if (interfaceIndex <= 0 ||
        ::ConvertInterfaceIndexToLuid(static_cast<NET_IFINDEX>(interfaceIndex), &luid) !=
            NO_ERROR ||
        ::ConvertInterfaceLuidToAlias(&luid, alias, NDIS_IF_MAX_STRING_SIZE + 1) != NO_ERROR) {
        return {};
    }
    // A Chinese Windows calls its first adapter 以太网: UTF-8, as every text of ours.
    char name[4 * (NDIS_IF_MAX_STRING_SIZE + 1)] = {};
    return ::WideCharToMultiByte(CP_UTF8, 0, alias, -1, name, sizeof name, nullptr, nullptr) > 0
               ? name
               : "";
}

std::string interfaceLinkAddress(int interfaceIndex) {
    MIB_IF_ROW2 row{};
    row.InterfaceIndex = static_cast<NET_IFINDEX>(interfaceIndex);
    if (::GetIfEntry2(&row) != NO_ERROR) {
        return {};
    }
    return linkAddressText({row.PhysicalAddress, row.PhysicalAddressLength});
}

int readEntry(int interfaceIndex, std::span<const std::uint8_t> address, NeighbourReading& entry) {
    entry = NeighbourReading{};
    entry.interfaceIndex = interfaceIndex;
    const bool ipv6 = address.size() == 16;
    Table table;
    if (const DWORD error = readTable(table, ipv6 ? AF_INET6 : AF_INET); error != NO_ERROR) {
        return static_cast<int>(error);
    }
    for (ULONG i = 0; table && i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        const void* rowAddress = ipv6 ? static_cast<const void*>(&row.Address.Ipv6.sin6_addr)
                                      : static_cast<const void*>(&row.Address.Ipv4.sin_addr);
        if (static_cast<int>(row.InterfaceIndex) == interfaceIndex &&
            std::memcmp(rowAddress, address.data(), address.size()) == 0) {
            entry.state = stateWord(row.State);
            entry.linkAddress = linkAddressOf(row);
        }
    }
    return 0;
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

std::optional<Ipv6Address> ipv6NeighbourWithLinkAddress(int interfaceIndex,
                                                        const Ipv6Address& besides,
                                                        const std::string& linkAddress) {
    Table table;
    if (linkAddress.empty() || readTable(table, AF_INET6) != NO_ERROR) {
        return std::nullopt;
    }
    for (ULONG i = 0; table && i < table->NumEntries; ++i) {
        const MIB_IPNET_ROW2& row = table->Table[i];
        Ipv6Address address{};
        std::memcpy(address.data(), &row.Address.Ipv6.sin6_addr, address.size());
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

int NeighbourEvents::followRouters(std::span<const Ipv6Address> /*routers*/, bool /*routes*/) {
    return 0;
}

bool NeighbourEvents::routersChanged() {
    return false;
}

} // namespace tarnvik
