// SPDX-License-Identifier: MIT
#include "neighbour_hold.h"
#include "netlink.h"

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>

#include <cerrno>
#include <ctime>
#include <vector>

namespace tarnvik {

NeighbourOutcome holdNeighbour(int interfaceIndex, const std::array<std::uint8_t, 4>& address,
                               const std::array<std::uint8_t, 6>& linkAddress) {
    NeighbourOutcome outcome;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        outcome.error = errno;
        outcome.failure = "cannot open a routing socket";
        return outcome;
    }
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [request, neighbour] = netlink::putRequest<ndmsg>(
        buffer, RTM_NEWNEIGH, NLM_F_REQUEST | NLM_F_ACK | NLM_F_CREATE | NLM_F_REPLACE,
        static_cast<unsigned int>(std::time(nullptr)));
    neighbour->ndm_family = AF_INET;
    neighbour->ndm_ifindex = interfaceIndex;
    neighbour->ndm_state = NUD_PERMANENT;
    mnl_attr_put(request, NDA_DST, address.size(), address.data());
    mnl_attr_put(request, NDA_LLADDR, linkAddress.size(), linkAddress.data());
    mnl_attr_put_u8(request, NDA_PROTOCOL, kHoldProtocol);
    if (const int error = netlink::exchange(socket.get(), request, nullptr, nullptr)) {
        outcome.error = error;
        outcome.failure = "cannot hold the neighbour entry";
    }
    return outcome;
}

NeighbourOutcome releaseHeldNeighbours() {
    return deleteIpv4Neighbours(
        [](const ndmsg&, const netlink::NeighbourAttributes& attributes) {
            const nlattr* protocol = attributes[NDA_PROTOCOL];
            return protocol != nullptr && mnl_attr_get_payload_len(protocol) == 1 &&
                   mnl_attr_get_u8(protocol) == kHoldProtocol;
        },
        "cannot release a held neighbour entry");
}

} // namespace tarnvik
