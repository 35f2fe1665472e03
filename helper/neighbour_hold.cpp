// SPDX-License-Identifier: MIT
#include "neighbour_hold.h"
#include "netlink.h"

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <vector>

namespace tarnvik {

namespace {

using Address = std::span<const std::uint8_t>;

std::uint8_t familyOf(Address address) {
    return address.size() == 16 ? AF_INET6 : AF_INET;
}

bool sameAddress(const nlattr* attribute, Address address) {
    return attribute != nullptr && mnl_attr_get_payload_len(attribute) == address.size() &&
           std::memcmp(mnl_attr_get_payload(attribute), address.data(), address.size()) == 0;
}

bool ours(const netlink::NeighbourAttributes& attributes) {
    const nlattr* protocol = attributes[NDA_PROTOCOL];
    return protocol != nullptr && mnl_attr_get_payload_len(protocol) == 1 &&
           mnl_attr_get_u8(protocol) == kHoldProtocol;
}

// The entry as the table holds it now.
struct Entry {
    bool present = false;
    std::uint16_t state = 0;
    bool ours = false;
};

// What the route toward an address says, and whether a route's gateway is the address.
struct Use {
    Address address;
    int interfaceIndex;
    bool gatewayOfARoute = false;
    bool onLink = false;
};

int onEntry(const nlmsghdr* message, void* data) {
    auto& entry = *static_cast<Entry*>(data);
    const auto* header = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    entry.present = true;
    entry.state = header->ndm_state;
    entry.ours = ours(netlink::neighbourAttributes(message));
    return MNL_CB_OK;
}

int onRouteListed(const nlmsghdr* message, void* data) {
    auto& use = *static_cast<Use*>(data);
    const auto* header = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(message));
    if (header->rtm_family != familyOf(use.address) || header->rtm_type != RTN_UNICAST) {
        return MNL_CB_OK;
    }
    netlink::forEachNextHop(message, [&use](const nlattr* gateway, int interfaceIndex) {
        use.gatewayOfARoute = use.gatewayOfARoute || (interfaceIndex == use.interfaceIndex &&
                                                      sameAddress(gateway, use.address));
    });
    return MNL_CB_OK;
}

int onRouteToAddress(const nlmsghdr* message, void* data) {
    auto& use = *static_cast<Use*>(data);
    const auto* header = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(message));
    netlink::forEachNextHop(message, [&](const nlattr* gateway, int interfaceIndex) {
        use.onLink = header->rtm_type == RTN_UNICAST && gateway == nullptr &&
                     interfaceIndex == use.interfaceIndex;
    });
    return MNL_CB_OK;
}

int readEntry(mnl_socket* socket, unsigned int sequence, int interfaceIndex, Address address,
              Entry& entry) {
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [request, neighbour] =
        netlink::putRequest<ndmsg>(buffer, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_ACK, sequence);
    neighbour->ndm_family = familyOf(address);
    neighbour->ndm_ifindex = interfaceIndex;
    mnl_attr_put(request, NDA_DST, address.size(), address.data());
    const int error = netlink::exchange(socket, request, onEntry, &entry);
    return error == ENOENT ? 0 : error;
}

int readUse(mnl_socket* socket, unsigned int& sequence, Use& use) {
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [dump, listed] =
        netlink::putRequest<rtmsg>(buffer, RTM_GETROUTE, NLM_F_REQUEST | NLM_F_DUMP, ++sequence);
    listed->rtm_family = familyOf(use.address);
    if (const int error = netlink::exchange(socket, dump, onRouteListed, &use);
        error != 0 || use.address.size() != 4) {
        return error; // an IPv6 address is held only as a router
    }
    const auto [get, route] =
        netlink::putRequest<rtmsg>(buffer, RTM_GETROUTE, NLM_F_REQUEST | NLM_F_ACK, ++sequence);
    route->rtm_family = AF_INET;
    route->rtm_dst_len = 32;
    mnl_attr_put(get, RTA_DST, use.address.size(), use.address.data());
    const int error = netlink::exchange(socket, get, onRouteToAddress, &use);
    // No route at all is an answer: nothing here uses the address.
    return error == ENETUNREACH || error == EHOSTUNREACH ? 0 : error;
}

} // namespace

NeighbourOutcome holdNeighbour(int interfaceIndex, Address address,
                               const std::array<std::uint8_t, 6>& linkAddress) {
    NeighbourOutcome outcome;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        outcome.error = errno;
        outcome.failure = "cannot open a routing socket";
        return outcome;
    }
    auto sequence = static_cast<unsigned int>(std::time(nullptr));
    Entry entry;
    Use use{address, interfaceIndex};
    if (int error = readEntry(socket.get(), ++sequence, interfaceIndex, address, entry);
        error != 0 || (error = readUse(socket.get(), sequence, use)) != 0) {
        outcome.error = error;
        outcome.failure = "cannot read the routes and the neighbour entry";
        return outcome;
    }
    const bool learnt =
        entry.present && (entry.state & (NUD_REACHABLE | NUD_STALE | NUD_DELAY | NUD_PROBE)) != 0;
    if (entry.present && !entry.ours && (entry.state & (NUD_PERMANENT | NUD_NOARP)) != 0) {
        outcome.refusal = "the entry is a static one that is not ours";
    } else if (!use.gatewayOfARoute && !(use.onLink && (learnt || entry.ours))) {
        outcome.refusal = "the address is neither the gateway of a route through that interface "
                          "nor an on-link address this machine has learnt";
    }
    if (!outcome.refusal.empty()) {
        return outcome;
    }
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [request, neighbour] = netlink::putRequest<ndmsg>(
        buffer, RTM_NEWNEIGH, NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE, ++sequence);
    neighbour->ndm_family = familyOf(address);
    neighbour->ndm_ifindex = interfaceIndex;
    neighbour->ndm_state = NUD_PERMANENT;
    // A router's entry without the flag would stop counting as a router's.
    neighbour->ndm_flags = address.size() == 16 ? NTF_ROUTER : 0;
    mnl_attr_put(request, NDA_DST, address.size(), address.data());
    mnl_attr_put(request, NDA_LLADDR, linkAddress.size(), linkAddress.data());
    mnl_attr_put_u8(request, NDA_PROTOCOL, kHoldProtocol);
    if (const int error = netlink::exchange(socket.get(), request, nullptr, nullptr)) {
        outcome.error = error;
        outcome.failure = "cannot hold the neighbour entry";
    }
    return outcome;
}

int gatewayOfARoute(int interfaceIndex, Address address, bool& gateway) {
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        return errno;
    }
    auto sequence = static_cast<unsigned int>(std::time(nullptr));
    Use use{address, interfaceIndex};
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [dump, listed] =
        netlink::putRequest<rtmsg>(buffer, RTM_GETROUTE, NLM_F_REQUEST | NLM_F_DUMP, ++sequence);
    listed->rtm_family = familyOf(address);
    const int error = netlink::exchange(socket.get(), dump, onRouteListed, &use);
    gateway = use.gatewayOfARoute;
    return error;
}

NeighbourOutcome releaseHeldNeighbour(int interfaceIndex, Address address,
                                      const std::array<std::uint8_t, 6>& linkAddress) {
    return deleteNeighbours(
        familyOf(address),
        [&](const ndmsg& header, const netlink::NeighbourAttributes& attributes) {
            return ours(attributes) && header.ndm_ifindex == interfaceIndex &&
                   sameAddress(attributes[NDA_DST], address) &&
                   sameAddress(attributes[NDA_LLADDR], linkAddress);
        },
        "cannot release a held neighbour entry");
}

} // namespace tarnvik
