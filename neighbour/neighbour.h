// SPDX-License-Identifier: MIT
// The operating-system seam for the neighbour table: which next hop the route toward an address
// uses, what the table holds for it, who else holds a link-layer address, and (where the system
// tells) each change of an entry as it happens. Reading needs no privilege. neighbour_posix.cpp
// (rtnetlink) and neighbour_win32.cpp (the IP helper) implement it.
#pragma once

#include "platform.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tarnvik {

struct NeighbourReading {
    // The address is this machine's own: there is no next hop to read.
    bool local = false;
    // The address itself when it is on-link, else the gateway of the route the kernel would use.
    Ipv4Value nextHop = 0;
    // The interface the route leaves by; 0 when unknown.
    int interfaceIndex = 0;
    // As "02:00:00:00:00:02", lower case; empty when the table holds none.
    std::string linkAddress;
    // The kernel's word for the entry: REACHABLE, STALE, DELAY, PROBE, FAILED, INCOMPLETE,
    // PERMANENT, NOARP, or "none".
    std::string state = "none";
    // An IPv6 router's entry: the router's address with its zone ("fe80::1%eth0"), nextHop 0.
    std::string ipv6 = "";
};

using Ipv6Address = std::array<std::uint8_t, 16>;

// Reads the route toward `destination` and its next hop's neighbour entry, that one entry alone
// (never the whole table). Returns 0 or the error number that stopped it (os::errorText
// describes it).
int readNeighbour(Ipv4Value destination, NeighbourReading& reading);

// The address of another entry on `interfaceIndex` that holds `linkAddress` (not `besides`), if
// the table has one: who answers for the next hop. Reads the whole table, so only for an
// attack, not for every probe.
std::optional<Ipv4Value> neighbourWithLinkAddress(int interfaceIndex, Ipv4Value besides,
                                                  const std::string& linkAddress);

// The entry for `address` (4 bytes IPv4 or 16 IPv6, network order) on `interfaceIndex` as the
// table holds it now: its link-layer address and state in `entry` (state "none" when there is no
// entry). 0 or the error number.
int readEntry(int interfaceIndex, std::span<const std::uint8_t> address, NeighbourReading& entry);

// A change of one IPv4 entry as the system told it.
struct NeighbourChange {
    int interfaceIndex = 0;
    // The entry's address in nextHop; no link-layer address and state "none" when removed.
    NeighbourReading reading;
};

// The system's notifications of neighbour entries (rtnetlink's neighbour group on Linux; Windows
// has none, and its descriptor is -1). Open for the life of the object.
class NeighbourEvents {
  public:
    NeighbourEvents();
    NeighbourEvents(const NeighbourEvents&) = delete;
    NeighbourEvents& operator=(const NeighbourEvents&) = delete;
    ~NeighbourEvents();

    // Readable when changes have arrived; -1 when there are no notifications here.
    int descriptor() const;
    // Hands every change that has arrived to `onChange`, without waiting for more.
    void drain(const std::function<void(const NeighbourChange&)>& onChange);
    // Only changes of these addresses' entries are wanted from now on (none: no change at all);
    // the system drops the others before they are queued, so that a storm of updates about
    // other hosts costs nothing. 0 or the error; on failure (more than a filter can hold) no filter
    // is kept and every change arrives.
    int follow(std::span<const Ipv4Value> addresses);
    // Besides, the IPv6 routers' entries and (`routes`) the IPv6 default routes coming and going;
    // their changes are not handed to drain's callback but noted for routersChanged(). 0 or the
    // error, as for follow().
    int followRouters(std::span<const Ipv6Address> routers, bool routes);
    // Whether a change of the IPv6 routers was drained since the last call.
    bool routersChanged();

  private:
    int attachFilter();
    struct Channel;
    std::unique_ptr<Channel> channel_;
    std::vector<Ipv4Value> followed_;
    std::vector<Ipv6Address> routers_;
    bool routes_ = false;
    bool routersChanged_ = false;
};

// An IPv6 default router of one interface (a default route's gateway, learnt from router
// advertisements or set by hand), with what the neighbour table holds for it.
struct Ipv6Router {
    int interfaceIndex = 0;
    Ipv6Address address{};
    // As for NeighbourReading: lower case, empty when the table holds none; the kernel's word.
    std::string linkAddress;
    std::string state = "none";
    // A default route goes through it; false for a router read for its entry alone.
    bool routed = true;
};

// Every IPv6 default router of the main table, in the table's order, each with its one
// neighbour entry; then each of `alsoEntries` that is no default router (any more), with its
// entry, not `routed`. 0 or the error number.
int readIpv6Routers(std::vector<Ipv6Router>& routers,
                    const std::vector<Ipv6Router>& alsoEntries = {});

// Appends to `routers` each of `others` that it does not hold, not `routed`.
void addUnrouted(std::vector<Ipv6Router>& routers, const std::vector<Ipv6Router>& others);

// As neighbourWithLinkAddress, among the IPv6 entries: who else answers with a router's address.
std::optional<Ipv6Address> ipv6NeighbourWithLinkAddress(int interfaceIndex,
                                                        const Ipv6Address& besides,
                                                        const std::string& linkAddress);

// An IPv6 address as text, with its zone where it is link-local: "fe80::1%eth0".
std::string ipv6Text(const Ipv6Address& address, int interfaceIndex);

// This machine's own link-layer address on an interface; empty when it has none (or no such
// interface).
std::string interfaceLinkAddress(int interfaceIndex);
// The interface's name as its system shows it ("eth0"; Windows: its alias, "Ethernet"); empty
// when there is none.
std::string interfaceName(int interfaceIndex);

// A 6-byte link-layer address as "02:00:00:00:00:02"; other lengths give empty text.
std::string linkAddressText(std::span<const std::uint8_t> bytes);

} // namespace tarnvik
