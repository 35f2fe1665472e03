// SPDX-License-Identifier: MIT
// The route and the neighbour entry through rtnetlink: RTM_GETROUTE for the destination, then the
// IPv4 neighbour entries of the route's interface. Unprivileged, like `ip route get`.
#include "neighbour.h"
#include "netlink.h"

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace tarnvik {

namespace {

struct Route {
    bool local = false;
    int interfaceIndex = 0;
    std::uint32_t gateway = 0; // network order, as the kernel gives it
};

struct Lookup {
    std::uint32_t nextHop = 0;
    int interfaceIndex = 0;
    NeighbourReading* reading = nullptr;
};

std::string stateWord(std::uint16_t state) {
    static constexpr std::pair<std::uint16_t, const char*> kWords[] = {
        {NUD_REACHABLE, "REACHABLE"}, {NUD_STALE, "STALE"},   {NUD_DELAY, "DELAY"},
        {NUD_PROBE, "PROBE"},         {NUD_FAILED, "FAILED"}, {NUD_INCOMPLETE, "INCOMPLETE"},
        {NUD_PERMANENT, "PERMANENT"}, {NUD_NOARP, "NOARP"}};
    for (const auto& [bit, word] : kWords) {
        if ((state & bit) != 0) {
            return word;
        }
    }
    return "none";
}

int onRoute(const nlmsghdr* message, void* data) {
    auto& route = *static_cast<Route*>(data);
    const auto* header = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(message));
    route.local = header->rtm_type == RTN_LOCAL;
    mnl_attr_parse(
        message, sizeof(rtmsg),
        [](const nlattr* attribute, void* out) {
            auto& found = *static_cast<Route*>(out);
            if (mnl_attr_get_type(attribute) == RTA_OIF &&
                mnl_attr_get_payload_len(attribute) == sizeof(std::uint32_t)) {
                found.interfaceIndex = static_cast<int>(mnl_attr_get_u32(attribute));
            } else if (mnl_attr_get_type(attribute) == RTA_GATEWAY &&
                       mnl_attr_get_payload_len(attribute) == sizeof(std::uint32_t)) {
                found.gateway = mnl_attr_get_u32(attribute);
            }
            return MNL_CB_OK;
        },
        &route);
    return MNL_CB_OK;
}

int onNeighbour(const nlmsghdr* message, void* data) {
    auto& lookup = *static_cast<Lookup*>(data);
    const auto* header = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (header->ndm_family != AF_INET || header->ndm_ifindex != lookup.interfaceIndex) {
        return MNL_CB_OK;
    }
    const nlattr* attributes[NDA_MAX + 1] = {};
    mnl_attr_parse(
        message, sizeof(ndmsg),
        [](const nlattr* attribute, void* out) {
            const auto type = mnl_attr_get_type(attribute);
            if (type <= NDA_MAX) {
                static_cast<const nlattr**>(out)[type] = attribute;
            }
            return MNL_CB_OK;
        },
        attributes);
    if (attributes[NDA_DST] == nullptr ||
        mnl_attr_get_payload_len(attributes[NDA_DST]) != sizeof(std::uint32_t) ||
        mnl_attr_get_u32(attributes[NDA_DST]) != lookup.nextHop) {
        return MNL_CB_OK;
    }
    lookup.reading->state = stateWord(header->ndm_state);
    if (attributes[NDA_LLADDR] != nullptr &&
        mnl_attr_get_payload_len(attributes[NDA_LLADDR]) == 6 &&
        (header->ndm_state & (NUD_INCOMPLETE | NUD_FAILED)) == 0) {
        const auto* mac =
            static_cast<const unsigned char*>(mnl_attr_get_payload(attributes[NDA_LLADDR]));
        char text[18];
        std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                      mac[3], mac[4], mac[5]);
        lookup.reading->linkAddress = text;
    }
    return MNL_CB_OK;
}

} // namespace

int readNeighbour(Ipv4Value destination, NeighbourReading& reading) {
    reading = NeighbourReading{};
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        return errno;
    }
    auto sequence = static_cast<unsigned int>(std::time(nullptr));
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);

    nlmsghdr* ask = mnl_nlmsg_put_header(buffer.data());
    ask->nlmsg_type = RTM_GETROUTE;
    ask->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
    ask->nlmsg_seq = ++sequence;
    auto* route = static_cast<rtmsg*>(mnl_nlmsg_put_extra_header(ask, sizeof(rtmsg)));
    route->rtm_family = AF_INET;
    route->rtm_dst_len = 32;
    // Our value's bytes are in network order, as the kernel wants the address.
    mnl_attr_put_u32(ask, RTA_DST, destination);
    Route found;
    if (const int error = netlink::exchange(socket.get(), ask, onRoute, &found)) {
        return error;
    }
    if (found.local) {
        reading.local = true;
        return 0;
    }
    Lookup lookup{found.gateway != 0 ? found.gateway : destination, found.interfaceIndex, &reading};
    reading.nextHop = lookup.nextHop;

    return netlink::dumpIpv4Neighbours(socket.get(), ++sequence, onNeighbour, &lookup);
}

} // namespace tarnvik
