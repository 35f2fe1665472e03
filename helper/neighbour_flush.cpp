// SPDX-License-Identifier: MIT
#include "neighbour_flush.h"
#include "netlink.h"

#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <vector>

namespace tarnvik {

namespace {

struct Entry {
    int interfaceIndex = 0;
    in_addr address{};
};

int keepDestination(const nlattr* attribute, void* data) {
    if (mnl_attr_get_type(attribute) == NDA_DST &&
        mnl_attr_get_payload_len(attribute) == sizeof(in_addr)) {
        *static_cast<const nlattr**>(data) = attribute;
    }
    return MNL_CB_OK;
}

int collectEntry(const nlmsghdr* message, void* data) {
    auto* entries = static_cast<std::vector<Entry>*>(data);
    const auto* neighbour = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    // Permanent and no-ARP entries were set by hand or are not learnt: ip's flush keeps them.
    if (neighbour->ndm_family != AF_INET || (neighbour->ndm_state & (NUD_PERMANENT | NUD_NOARP))) {
        return MNL_CB_OK;
    }
    const nlattr* destination = nullptr;
    mnl_attr_parse(message, sizeof(ndmsg), keepDestination, &destination);
    if (destination != nullptr) {
        Entry entry;
        entry.interfaceIndex = neighbour->ndm_ifindex;
        std::memcpy(&entry.address, mnl_attr_get_payload(destination), sizeof(in_addr));
        entries->push_back(entry);
    }
    return MNL_CB_OK;
}

} // namespace

FlushOutcome flushIpv4Neighbours() {
    FlushOutcome outcome;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        outcome.error = errno;
        outcome.failure = "cannot open a routing socket";
        return outcome;
    }
    auto sequence = static_cast<unsigned int>(std::time(nullptr));
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);

    std::vector<Entry> entries;
    if (const int error =
            netlink::dumpIpv4Neighbours(socket.get(), ++sequence, collectEntry, &entries)) {
        outcome.error = error;
        outcome.failure = "cannot list the neighbour entries";
        return outcome;
    }

    for (const Entry& entry : entries) {
        nlmsghdr* remove = mnl_nlmsg_put_header(buffer.data());
        remove->nlmsg_type = RTM_DELNEIGH;
        remove->nlmsg_flags = NLM_F_REQUEST | NLM_F_ACK;
        remove->nlmsg_seq = ++sequence;
        auto* neighbour = static_cast<ndmsg*>(mnl_nlmsg_put_extra_header(remove, sizeof(ndmsg)));
        neighbour->ndm_family = AF_INET;
        neighbour->ndm_ifindex = entry.interfaceIndex;
        mnl_attr_put(remove, NDA_DST, sizeof entry.address, &entry.address);
        const int error = netlink::exchange(socket.get(), remove, nullptr, nullptr);
        // An entry that went away meanwhile is as good as deleted.
        if (error != 0 && error != ENOENT) {
            outcome.error = error;
            outcome.failure = "cannot delete the neighbour entries";
            return outcome;
        }
        outcome.deleted += error == 0;
    }
    return outcome;
}

} // namespace tarnvik
