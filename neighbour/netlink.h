// SPDX-License-Identifier: MIT
// One rtnetlink request and its answers through libmnl, as both the flush helper and the
// window's evidence reading make them.
#pragma once

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace tarnvik::netlink {

struct SocketCloser {
    void operator()(mnl_socket* socket) const { mnl_socket_close(socket); }
};
using Socket = std::unique_ptr<mnl_socket, SocketCloser>;

// A request of `type` at the start of `buffer`, and the family header (rtmsg, ndmsg) after it,
// zeroed, for the caller to fill in.
template <typename FamilyHeader>
std::pair<nlmsghdr*, FamilyHeader*> putRequest(std::vector<char>& buffer, std::uint16_t type,
                                               std::uint16_t flags, unsigned int sequence) {
    nlmsghdr* message = mnl_nlmsg_put_header(buffer.data());
    message->nlmsg_type = type;
    message->nlmsg_flags = flags;
    message->nlmsg_seq = sequence;
    return {message,
            static_cast<FamilyHeader*>(mnl_nlmsg_put_extra_header(message, sizeof(FamilyHeader)))};
}

// Sends one request and reads its answers until the kernel says it is done (the end of a dump,
// or the acknowledgement a request asks for with NLM_F_ACK). Returns 0 or the errno.
inline int exchange(mnl_socket* socket, nlmsghdr* request, mnl_cb_t callback, void* data) {
    if (mnl_socket_sendto(socket, request, request->nlmsg_len) < 0) {
        return errno;
    }
    const unsigned int port = mnl_socket_get_portid(socket);
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    for (;;) {
        const ssize_t got = mnl_socket_recvfrom(socket, buffer.data(), buffer.size());
        if (got < 0) {
            return errno;
        }
        const int result = mnl_cb_run(buffer.data(), static_cast<size_t>(got), request->nlmsg_seq,
                                      port, callback, data);
        if (result == MNL_CB_ERROR) {
            return errno;
        }
        if (result == MNL_CB_STOP) {
            return 0;
        }
    }
}

// A routing socket bound to an address of its own; null (with errno set) when none can be had.
inline Socket openRoutingSocket() {
    Socket socket(mnl_socket_open(NETLINK_ROUTE));
    if (socket && mnl_socket_bind(socket.get(), 0, MNL_SOCKET_AUTOPID) < 0) {
        socket.reset();
    }
    return socket;
}

// A neighbour message's attributes by type (NDA_*), null where the message has none.
using NeighbourAttributes = std::array<const nlattr*, NDA_MAX + 1>;
inline NeighbourAttributes neighbourAttributes(const nlmsghdr* message) {
    NeighbourAttributes attributes{};
    mnl_attr_parse(
        message, sizeof(ndmsg),
        [](const nlattr* attribute, void* out) {
            if (const auto type = mnl_attr_get_type(attribute); type <= NDA_MAX) {
                (*static_cast<NeighbourAttributes*>(out))[type] = attribute;
            }
            return MNL_CB_OK;
        },
        &attributes);
    return attributes;
}

// Every IPv4 neighbour entry, each handed to `callback`.
inline int dumpNeighbours(mnl_socket* socket, unsigned int sequence, mnl_cb_t callback, void* data,
                          std::uint8_t addressFamily) {
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [dump, family] =
        putRequest<ndmsg>(buffer, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_DUMP, sequence);
    family->ndm_family = addressFamily;
    return exchange(socket, dump, callback, data);
}

// Calls `visit(gateway, interfaceIndex)` for each next hop of a route message: its own gateway
// and output interface, or each one of a route with several next hops (RTA_MULTIPATH), each
// with its interface and its own attributes. `gateway` is null where a next hop has none.
template <typename Visit> void forEachNextHop(const nlmsghdr* message, Visit visit) {
    struct Found {
        const nlattr* gateway = nullptr;
        const nlattr* multipath = nullptr;
        int interfaceIndex = 0;
    } found;
    mnl_attr_parse(
        message, sizeof(rtmsg),
        [](const nlattr* attribute, void* out) {
            auto& found = *static_cast<Found*>(out);
            const auto type = mnl_attr_get_type(attribute);
            if (type == RTA_OIF && mnl_attr_get_payload_len(attribute) == sizeof(std::uint32_t)) {
                found.interfaceIndex = static_cast<int>(mnl_attr_get_u32(attribute));
            } else if (type == RTA_GATEWAY) {
                found.gateway = attribute;
            } else if (type == RTA_MULTIPATH) {
                found.multipath = attribute;
            }
            return MNL_CB_OK;
        },
        &found);
    if (found.multipath == nullptr) {
        visit(found.gateway, found.interfaceIndex);
        return;
    }
    const auto* at = static_cast<const char*>(mnl_attr_get_payload(found.multipath));
    auto left = static_cast<std::size_t>(mnl_attr_get_payload_len(found.multipath));
    while (left >= sizeof(rtnexthop)) {
        const auto* hop = reinterpret_cast<const rtnexthop*>(at);
        if (hop->rtnh_len < sizeof(rtnexthop) || hop->rtnh_len > left) {
            break;
        }
        const nlattr* gateway = nullptr;
        const char* const end = at + hop->rtnh_len;
        for (const auto* nested = reinterpret_cast<const nlattr*>(at + RTNH_LENGTH(0));
             mnl_attr_ok(nested, static_cast<int>(end - reinterpret_cast<const char*>(nested)));
             nested = mnl_attr_next(nested)) {
            if (mnl_attr_get_type(nested) == RTA_GATEWAY) {
                gateway = nested;
            }
        }
        visit(gateway, hop->rtnh_ifindex);
        const auto step = std::min<std::size_t>(RTNH_ALIGN(hop->rtnh_len), left);
        at += step;
        left -= step;
    }
}

} // namespace tarnvik::netlink
