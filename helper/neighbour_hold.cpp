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

struct Held {
    int interfaceIndex = 0;
    std::array<std::uint8_t, 4> address{};
};

int collectHeld(const nlmsghdr* message, void* data) {
    const auto* neighbour = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (neighbour->ndm_family != AF_INET) {
        return MNL_CB_OK;
    }
    const nlattr* attributes[NDA_MAX + 1] = {};
    mnl_attr_parse(
        message, sizeof(ndmsg),
        [](const nlattr* attribute, void* out) {
            if (const auto type = mnl_attr_get_type(attribute); type <= NDA_MAX) {
                static_cast<const nlattr**>(out)[type] = attribute;
            }
            return MNL_CB_OK;
        },
        attributes);
    const nlattr* protocol = attributes[NDA_PROTOCOL];
    const nlattr* destination = attributes[NDA_DST];
    if (protocol == nullptr || mnl_attr_get_payload_len(protocol) != 1 ||
        mnl_attr_get_u8(protocol) != kHoldProtocol || destination == nullptr ||
        mnl_attr_get_payload_len(destination) != 4) {
        return MNL_CB_OK;
    }
    Held held;
    held.interfaceIndex = neighbour->ndm_ifindex;
    std::memcpy(held.address.data(), mnl_attr_get_payload(destination), 4);
    static_cast<std::vector<Held>*>(data)->push_back(held);
    return MNL_CB_OK;
}

nlmsghdr* neighbourRequest(std::vector<char>& buffer, std::uint16_t type, std::uint16_t flags,
                           unsigned int sequence, int interfaceIndex,
                           const std::array<std::uint8_t, 4>& address) {
    nlmsghdr* request = mnl_nlmsg_put_header(buffer.data());
    request->nlmsg_type = type;
    request->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK | flags;
    request->nlmsg_seq = sequence;
    auto* neighbour = static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(request, sizeof(ndmsg)));
    neighbour->ndm_family = AF_INET;
    neighbour->ndm_ifindex = interfaceIndex;
    neighbour->ndm_state = NUD_PERMANENT;
    mnl_attr_put(request, NDA_DST, address.size(), address.data());
    return request;
}

} // namespace

HoldOutcome holdNeighbour(int interfaceIndex, const std::array<std::uint8_t, 4>& address,
                          const std::array<std::uint8_t, 6>& linkAddress) {
    HoldOutcome outcome;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        outcome.error = errno;
        outcome.failure = "cannot open a routing socket";
        return outcome;
    }
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    nlmsghdr* request =
        neighbourRequest(buffer, RTM_NEWNEIGH, NLM_F_CREATE | NLM_F_REPLACE,
                         static_cast<unsigned int>(std::time(nullptr)), interfaceIndex, address);
    mnl_attr_put(request, NDA_LLADDR, linkAddress.size(), linkAddress.data());
    mnl_attr_put_u8(request, NDA_PROTOCOL, kHoldProtocol);
    if (const int error = netlink::exchange(socket.get(), request, nullptr, nullptr)) {
        outcome.error = error;
        outcome.failure = "cannot hold the neighbour entry";
    }
    return outcome;
}

HoldOutcome releaseHeldNeighbours() {
    HoldOutcome outcome;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        outcome.error = errno;
        outcome.failure = "cannot open a routing socket";
        return outcome;
    }
    auto sequence = static_cast<unsigned int>(std::time(nullptr));
    std::vector<Held> held;
    if (const int error =
            netlink::dumpIpv4Neighbours(socket.get(), ++sequence, collectHeld, &held)) {
        outcome.error = error;
        outcome.failure = "cannot list the neighbour entries";
        return outcome;
    }
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    for (const Held& entry : held) {
        nlmsghdr* request = neighbourRequest(buffer, RTM_DELNEIGH, 0, ++sequence,
                                             entry.interfaceIndex, entry.address);
        const int error = netlink::exchange(socket.get(), request, nullptr, nullptr);
        if (error != 0 && error != ENOENT) {
            outcome.error = error;
            outcome.failure = "cannot release a held neighbour entry";
            return outcome;
        }
        outcome.released += error == 0;
    }
    return outcome;
}

} // namespace tarnvik
