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

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

namespace tarnvik {

namespace {

struct Route {
    bool local = false;
    int interfaceIndex = 0;
    Ipv4Value gateway = 0;
};

struct Lookup {
    Ipv4Value nextHop = 0;
    int interfaceIndex = 0;
    NeighbourReading* reading = nullptr;
};

// An address attribute's bytes, which are in network order on every host.
std::optional<Ipv4Value> addressOf(const nlattr* attribute) {
    if (mnl_attr_get_payload_len(attribute) != 4) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(mnl_attr_get_payload(attribute));
    return ipv4FromOctets(bytes[0], bytes[1], bytes[2], bytes[3]);
}

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
            } else if (mnl_attr_get_type(attribute) == RTA_GATEWAY) {
                found.gateway = addressOf(attribute).value_or(0);
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
    if (attributes[NDA_DST] == nullptr || addressOf(attributes[NDA_DST]) != lookup.nextHop) {
        return MNL_CB_OK;
    }
    lookup.reading->state = stateWord(header->ndm_state);
    if (attributes[NDA_LLADDR] != nullptr &&
        (header->ndm_state & (NUD_INCOMPLETE | NUD_FAILED)) == 0) {
        lookup.reading->linkAddress = linkAddressText(
            {static_cast<const std::uint8_t*>(mnl_attr_get_payload(attributes[NDA_LLADDR])),
             mnl_attr_get_payload_len(attributes[NDA_LLADDR])});
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
    const auto destinationBytes = ipv4Octets(destination);
    mnl_attr_put(ask, RTA_DST, destinationBytes.size(), destinationBytes.data());
    Route found;
    if (const int error = netlink::exchange(socket.get(), ask, onRoute, &found)) {
        return error;
    }
    if (found.local) {
        reading.local = true;
        return 0;
    }
    reading.nextHop = found.gateway != 0 ? found.gateway : destination;
    Lookup lookup{reading.nextHop, found.interfaceIndex, &reading};

    return netlink::dumpIpv4Neighbours(socket.get(), ++sequence, onNeighbour, &lookup);
}

} // namespace tarnvik
