// SPDX-License-Identifier: MIT
#include "neighbour_flush.h"

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

namespace tarnvik {

namespace {

struct Entry {
    int interfaceIndex = 0;
    in_addr address{};
};

struct Listing {
    NeighbourChoice chosen;
    std::vector<Entry> entries;
};

int collectEntry(const nlmsghdr* message, void* data) {
    auto& listing = *static_cast<Listing*>(data);
    const auto* neighbour = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (neighbour->ndm_family != AF_INET) {
        return MNL_CB_OK;
    }
    const auto attributes = netlink::neighbourAttributes(message);
    const nlattr* destination = attributes[NDA_DST];
    if (destination != nullptr && mnl_attr_get_payload_len(destination) == sizeof(in_addr) &&
        listing.chosen(*neighbour, attributes)) {
        Entry entry;
        entry.interfaceIndex = neighbour->ndm_ifindex;
        std::memcpy(&entry.address, mnl_attr_get_payload(destination), sizeof(in_addr));
        listing.entries.push_back(entry);
    }
    return MNL_CB_OK;
}

} // namespace

NeighbourOutcome deleteIpv4Neighbours(NeighbourChoice chosen, const std::string& failure) {
    NeighbourOutcome outcome;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        outcome.error = errno;
        outcome.failure = "cannot open a routing socket";
        return outcome;
    }
    auto sequence = static_cast<unsigned int>(std::time(nullptr));
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);

    Listing listing{std::move(chosen), {}};
    if (const int error =
            netlink::dumpIpv4Neighbours(socket.get(), ++sequence, collectEntry, &listing)) {
        outcome.error = error;
        outcome.failure = "cannot list the neighbour entries";
        return outcome;
    }

    for (const Entry& entry : listing.entries) {
        const auto [remove, neighbour] =
            netlink::putRequest<ndmsg>(buffer, RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, ++sequence);
        neighbour->ndm_family = AF_INET;
        neighbour->ndm_ifindex = entry.interfaceIndex;
        mnl_attr_put(remove, NDA_DST, sizeof entry.address, &entry.address);
        const int error = netlink::exchange(socket.get(), remove, nullptr, nullptr);
        // An entry that went away meanwhile is as good as deleted.
        if (error != 0 && error != ENOENT) {
            outcome.error = error;
            outcome.failure = failure;
            return outcome;
        }
        outcome.deleted += error == 0;
    }
    return outcome;
}

NeighbourOutcome flushIpv4Neighbours() {
    // Permanent and no-ARP entries were set by hand or are not learnt: ip's flush keeps them.
    return deleteIpv4Neighbours(
        [](const ndmsg& header, const netlink::NeighbourAttributes&) {
            return (header.ndm_state & (NUD_PERMANENT | NUD_NOARP)) == 0;
        },
        "cannot delete the neighbour entries");
}

} // namespace tarnvik
