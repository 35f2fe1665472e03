// SPDX-License-Identifier: MIT
// tarnvik-arp: asks one link-layer address whether it still answers for an IPv4 address, with one
// ARP request sent to it alone. It carries cap_net_raw, like arping, and anyone may run it: it
// can send nothing but that request, whose sender fields it takes from the interface itself (its
// own link-layer address, and its own IPv4 address on the route to the address asked), never
// from its arguments, so it can only tell the truth.
//   tarnvik-arp ask INTERFACE-INDEX IPV4-ADDRESS LINK-ADDRESS [WAIT-MS]
// With WAIT-MS (at most 5000) it waits that long for the answer from that link-layer address:
// exit status 0 when it came, 3 when it did not. 1: it could not ask; 2: wrong arguments.
#include "arguments.h"
#include "arp_frame.h"
#include "netlink.h"

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tarnvik;

struct Descriptor {
    int fd = -1;
    ~Descriptor() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

int usage() {
    std::fputs("usage: tarnvik-arp ask INTERFACE-INDEX IPV4-ADDRESS LINK-ADDRESS [WAIT-MS]\n"
               "(a unicast IPv4 address, a unicast link-layer address such as "
               "02:00:00:00:00:02, and a wait of at most 5000 ms)\n",
               stderr);
    return 2;
}

int failed(const char* what) {
    std::fprintf(stderr, "tarnvik-arp: %s: %s\n", what, std::strerror(errno));
    return 1;
}

// This machine's own address on the route to `asked`, which must leave by `interfaceIndex`.
std::optional<AddressBytes> ownAddressToward(const AddressBytes& asked, int interfaceIndex) {
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        return std::nullopt;
    }
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [request, route] =
        netlink::putRequest<rtmsg>(buffer, RTM_GETROUTE, NLM_F_REQUEST | NLM_F_ACK, 1);
    route->rtm_family = AF_INET;
    route->rtm_dst_len = 32;
    mnl_attr_put(request, RTA_DST, asked.size(), asked.data());
    struct Found {
        int interfaceIndex = 0;
        std::optional<AddressBytes> source;
    } found;
    const int error = netlink::exchange(
        socket.get(), request,
        [](const nlmsghdr* message, void* data) {
            mnl_attr_parse(
                message, sizeof(rtmsg),
                [](const nlattr* attribute, void* out) {
                    auto& route = *static_cast<Found*>(out);
                    const auto type = mnl_attr_get_type(attribute);
                    if (type == RTA_OIF && mnl_attr_get_payload_len(attribute) == 4) {
                        route.interfaceIndex = static_cast<int>(mnl_attr_get_u32(attribute));
                    } else if (type == RTA_PREFSRC && mnl_attr_get_payload_len(attribute) == 4) {
                        AddressBytes bytes{};
                        std::memcpy(bytes.data(), mnl_attr_get_payload(attribute), 4);
                        route.source = bytes;
                    }
                    return MNL_CB_OK;
                },
                data);
            return MNL_CB_OK;
        },
        &found);
    if (error != 0 || found.interfaceIndex != interfaceIndex) {
        errno = error != 0 ? error : ENETUNREACH;
        return std::nullopt;
    }
    return found.source;
}

} // namespace

int main(int argc, char** argv) {
    if ((argc != 5 && argc != 6) || std::string_view(argv[1]) != "ask") {
        return usage();
    }
    const auto index = interfaceIndex(argv[2]);
    const auto asked = unicastIpv4(argv[3]);
    const auto to = unicastLinkAddress(argv[4]);
    const auto waitMs = argc == 6 ? interfaceIndex(argv[5]) : std::optional<int>(0);
    if (!index || !asked || !to || !waitMs || *waitMs > 5000) {
        return usage();
    }
    const auto own = ownAddressToward(*asked, *index);
    if (!own) {
        return failed("no address of this interface on the route to the address asked");
    }
    Descriptor packet{::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(ETH_P_ARP))};
    if (packet.fd < 0) {
        return failed("cannot open a packet socket");
    }
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ARP);
    link.sll_ifindex = *index;
    if (::bind(packet.fd, reinterpret_cast<sockaddr*>(&link), sizeof link) != 0) {
        return failed("cannot bind to the interface");
    }
    // The interface's own link-layer address, as the kernel gives it for the bound socket.
    sockaddr_ll bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(packet.fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
        bound.sll_halen != 6) {
        return failed("the interface has no Ethernet address");
    }
    LinkBytes ownLink{};
    std::memcpy(ownLink.data(), bound.sll_addr, 6);
    const auto frame = arpRequestFrame(ownLink, *own, *asked, *to);
    link.sll_halen = 6;
    std::memcpy(link.sll_addr, to->data(), 6);
    if (::sendto(packet.fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&link),
                 sizeof link) != static_cast<ssize_t>(frame.size())) {
        return failed("cannot send the request");
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(*waitMs);
    while (*waitMs > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return 3;
        }
        pollfd ready{packet.fd, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(left)) < 0 && errno != EINTR) {
            return failed("cannot wait for the answer");
        }
        std::uint8_t received[128];
        const ssize_t got = ::recv(packet.fd, received, sizeof received, MSG_DONTWAIT);
        if (got > 0 && answersArpRequest({received, static_cast<std::size_t>(got)}, *asked, *to)) {
            return 0;
        }
    }
    return 0;
}
