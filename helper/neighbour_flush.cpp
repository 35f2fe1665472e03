// SPDX-License-Identifier: MIT
#include "neighbour_flush.h"

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

namespace tarnvik {

namespace {

// An IPv4 or IPv6 address, as the table gives it.
struct Entry {
    int interfaceIndex = 0;
    std::array<std::uint8_t, 16> address{};
    std::uint16_t length = 0;
};

struct Listing {
    NeighbourChoice chosen;
    std::uint8_t family = AF_INET;
    std::vector<Entry> entries;
};

int collectEntry(const nlmsghdr* message, void* data) {
    auto& listing = *static_cast<Listing*>(data);
    const auto* neighbour = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (neighbour->ndm_family != listing.family) {
        return MNL_CB_OK;
    }
    const std::uint16_t length = listing.family == AF_INET ? 4 : 16;
    const auto attributes = netlink::neighbourAttributes(message);
    const nlattr* destination = attributes[NDA_DST];
    if (destination != nullptr && mnl_attr_get_payload_len(destination) == length &&
        listing.chosen(*neighbour, attributes)) {
        Entry entry;
        entry.interfaceIndex = neighbour->ndm_ifindex;
        entry.length = length;
        std::memcpy(entry.address.data(), mnl_attr_get_payload(destination), length);
        listing.entries.push_back(entry);
    }
    return MNL_CB_OK;
}

} // namespace

NeighbourOutcome deleteIpv4Neighbours(NeighbourChoice chosen, const std::string& failure) {
    return deleteNeighbours(AF_INET, std::move(chosen), failure);
}

NeighbourOutcome deleteNeighbours(std::uint8_t family, NeighbourChoice chosen,
                                  const std::string& failure) {
    NeighbourOutcome outcome;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        outcome.error = errno;
        outcome.failure = "cannot open a routing socket";
        return outcome;
    }
    auto sequence = static_cast<unsigned int>(std::time(nullptr));
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);

    Listing listing{std::move(chosen), family, {}};
    if (const int error =
            netlink::dumpNeighbours(socket.get(), ++sequence, collectEntry, &listing, family)) {
        outcome.error = error;
        outcome.failure = "cannot list the neighbour entries";
        return outcome;
    }

    for (const Entry& entry : listing.entries) {
        const auto [remove, neighbour] =
            netlink::putRequest<ndmsg>(buffer, RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, ++sequence);
        neighbour->ndm_family = family;
        neighbour->ndm_ifindex = entry.interfaceIndex;
        mnl_attr_put(remove, NDA_DST, entry.length, entry.address.data());
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

NeighbourOutcome flushNeighbours(std::uint8_t family) {
    // Permanent and no-ARP entries were set by hand or are not learnt: ip's flush keeps them.
    return deleteNeighbours(
        family,
        [](const ndmsg& header, const netlink::NeighbourAttributes&) {
            return (header.ndm_state & (NUD_PERMANENT | NUD_NOARP)) == 0;
        },
        "cannot delete the neighbour entries");
}

NeighbourOutcome flushIpv4Neighbours() {
    return flushNeighbours(AF_INET);
}

} // namespace tarnvik
