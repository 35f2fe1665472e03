// SPDX-License-Identifier: MIT
// tarnvik-arp: asks one link-layer address whether it still answers for an IPv4 address, with one
// ARP request sent to it alone. It carries cap_net_raw, like arping, and anyone may run it: it
// can send nothing but that request, whose sender fields it takes from the interface itself (its
// own link-layer address, and its own IPv4 address on the route to the address asked), never
// from its arguments, so it can only tell the truth.
//   tarnvik-arp ask INTERFACE-INDEX IPV4-ADDRESS LINK-ADDRESS [WAIT-MS]
//   tarnvik-arp ask INTERFACE-INDEX IPV6-LINK-LOCAL LINK-ADDRESS [WAIT-MS]
// An IPv6 router is asked with a neighbour solicitation instead, from the interface's own
// link-local address. With WAIT-MS (at most 5000) it waits that long for the answer from that
// link-layer address: exit status 0 when it came, 3 when it did not. 1: it could not ask; 2: wrong
// arguments.
//   tarnvik-arp tell INTERFACE-INDEX IPV6-LINK-LOCAL LINK-ADDRESS
// tells an IPv6 router there, alone, this interface's own link-local address and link-layer
// address (an unsolicited neighbour advertisement with the override flag, and the router flag
// exactly when this host forwards IPv6 on that interface); the same truth. An IPv6 address is
// asked or told only where it is the gateway of a route through that interface, as an IPv4 one
// only where the route to it leaves there; our own link-local address is one that is valid (not
// tentative, not failed). The capability is given up once the socket is open.
#include "arguments.h"
#include "arp_frame.h"
#include "netlink.h"

#include "neighbour_hold.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <linux/if_addr.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
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
    std::fputs("usage: tarnvik-arp ask INTERFACE-INDEX ADDRESS LINK-ADDRESS [WAIT-MS]\n"
               "       tarnvik-arp tell INTERFACE-INDEX IPV6-LINK-LOCAL LINK-ADDRESS\n"
               "(a unicast IPv4 address or an IPv6 link-local one, a unicast link-layer address "
               "such as 02:00:00:00:00:02, and a wait of at most 5000 ms)\n",
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

// A packet socket bound to the interface for `protocol`, and the interface's own link-layer
// address; -1 (errno set) when either cannot be had.
int openBound(int interfaceIndex, std::uint16_t protocol, Descriptor& packet, LinkBytes& own) {
    packet.fd = ::socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, htons(protocol));
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(protocol);
    link.sll_ifindex = interfaceIndex;
    if (packet.fd < 0 || ::bind(packet.fd, reinterpret_cast<sockaddr*>(&link), sizeof link) != 0) {
        return -1;
    }
    // The socket is all cap_net_raw was for: none is kept for the rest of the run.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[_LINUX_CAPABILITY_U32S_3] = {};
    if (::syscall(SYS_capset, &header, none) != 0) {
        return -1;
    }
    // As the kernel gives it for the bound socket.
    sockaddr_ll bound{};
    socklen_t length = sizeof bound;
    if (::getsockname(packet.fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0 ||
        bound.sll_halen != 6) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    std::memcpy(own.data(), bound.sll_addr, 6);
    return 0;
}

int sendTo(const Descriptor& packet, int interfaceIndex, std::uint16_t protocol,
           const LinkBytes& to, std::span<const std::uint8_t> frame) {
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(protocol);
    link.sll_ifindex = interfaceIndex;
    link.sll_halen = 6;
    std::memcpy(link.sll_addr, to.data(), 6);
    return ::sendto(packet.fd, frame.data(), frame.size(), 0, reinterpret_cast<sockaddr*>(&link),
                    sizeof link) == static_cast<ssize_t>(frame.size())
               ? 0
               : -1;
}

// This interface's own IPv6 link-local address, one that is valid: never one still tentative or
// one whose duplicate detection failed (another host's, then).
std::optional<Ipv6Bytes> ownLinkLocal(int interfaceIndex) {
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        return std::nullopt;
    }
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [dump, family] =
        netlink::putRequest<ifaddrmsg>(buffer, RTM_GETADDR, NLM_F_REQUEST | NLM_F_DUMP, 1);
    family->ifa_family = AF_INET6;
    struct Found {
        int interfaceIndex;
        std::optional<Ipv6Bytes> address;
    } found{interfaceIndex, std::nullopt};
    const int error = netlink::exchange(
        socket.get(), dump,
        [](const nlmsghdr* message, void* data) {
            auto& found = *static_cast<Found*>(data);
            const auto* header = static_cast<const ifaddrmsg*>(mnl_nlmsg_get_payload(message));
            struct Attributes {
                const nlattr* address = nullptr;
                std::uint32_t flags = 0;
            } attributes{nullptr, header->ifa_flags};
            mnl_attr_parse(
                message, sizeof(ifaddrmsg),
                [](const nlattr* attribute, void* out) {
                    auto& attributes = *static_cast<Attributes*>(out);
                    const auto type = mnl_attr_get_type(attribute);
                    if (type == IFA_ADDRESS && mnl_attr_get_payload_len(attribute) == 16) {
                        attributes.address = attribute;
                    } else if (type == IFA_FLAGS && mnl_attr_get_payload_len(attribute) == 4) {
                        attributes.flags = mnl_attr_get_u32(attribute);
                    }
                    return MNL_CB_OK;
                },
                &attributes);
            const bool usable = (attributes.flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED)) == 0;
            if (!found.address && usable && attributes.address != nullptr &&
                static_cast<int>(header->ifa_index) == found.interfaceIndex &&
                header->ifa_scope == RT_SCOPE_LINK) {
                found.address.emplace();
                std::memcpy(found.address->data(), mnl_attr_get_payload(attributes.address), 16);
            }
            return MNL_CB_OK;
        },
        &found);
    return error == 0 ? found.address : std::nullopt;
}

// Whether this host forwards IPv6 on the interface, and so is a router to its neighbours.
bool forwardsIpv6(int interfaceIndex) {
    char name[IF_NAMESIZE] = {};
    if (::if_indextoname(static_cast<unsigned>(interfaceIndex), name) == nullptr) {
        return false;
    }
    // A plain read: streams would bring the C++ locale machinery into every start.
    const std::string path = std::string("/proc/sys/net/ipv6/conf/") + name + "/forwarding";
    const Descriptor setting{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    char value[16] = {};
    return setting.fd >= 0 && ::read(setting.fd, value, sizeof value - 1) > 0 &&
           std::atoi(value) != 0;
}

// An IPv6 neighbour is asked or told only as the gateway of a route through that interface.
bool routesThrough(int interfaceIndex, const Ipv6Bytes& router) {
    bool gateway = false;
    if (const int error = gatewayOfARoute(interfaceIndex, router, gateway)) {
        errno = error;
        return false;
    }
    errno = ENETUNREACH;
    return gateway;
}

// Sends `to` the neighbour discovery frame `frameFor(ownLink, ownLinkLocal)` gives for this
// interface's own addresses, `packet` left open for an answer.
template <typename FrameFor>
int sendNeighbourFrame(int index, const LinkBytes& to, Descriptor& packet, FrameFor frameFor,
                       const char* sendFailure) {
    const auto own = ownLinkLocal(index);
    if (!own) {
        errno = EADDRNOTAVAIL;
        return failed("the interface has no valid IPv6 link-local address");
    }
    LinkBytes ownLink{};
    if (openBound(index, ETH_P_IPV6, packet, ownLink) != 0) {
        return failed("cannot open a packet socket on the interface");
    }
    return sendTo(packet, index, ETH_P_IPV6, to, frameFor(ownLink, *own)) == 0
               ? 0
               : failed(sendFailure);
}

int tell(int argc, char** argv) {
    const auto index = argc == 5 ? interfaceIndex(argv[2]) : std::nullopt;
    const auto router = argc == 5 ? linkLocalIpv6(argv[3]) : std::nullopt;
    const auto to = argc == 5 ? unicastLinkAddress(argv[4]) : std::nullopt;
    if (!index || !router || !to) {
        return usage();
    }
    if (!routesThrough(*index, *router)) {
        return failed("the address is no gateway of a route through that interface");
    }
    const bool forwarding = forwardsIpv6(*index);
    Descriptor packet;
    return sendNeighbourFrame(
        *index, *to, packet,
        [&](const LinkBytes& ownLink, const Ipv6Bytes& own) {
            return neighbourAdvertisementFrame(ownLink, own, *router, *to, forwarding);
        },
        "cannot send the advertisement");
}

// Waits up to `waitMs` for the frame that `answers`: 0 when it came, 3 when it did not, 1 when
// it cannot wait.
template <typename Answers> int awaitAnswer(const Descriptor& packet, int waitMs, Answers answers) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    while (waitMs > 0) {
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
        std::uint8_t received[256];
        const ssize_t got = ::recv(packet.fd, received, sizeof received, MSG_DONTWAIT);
        if (got > 0 &&
            answers(std::span<const std::uint8_t>(received, static_cast<std::size_t>(got)))) {
            return 0;
        }
    }
    return 0;
}

// The IPv6 form of the question: a neighbour solicitation to the router's link-local address at
// that link-layer address alone, from this interface's own link-local address.
int askIpv6(int index, const Ipv6Bytes& asked, const LinkBytes& to, int waitMs) {
    if (!routesThrough(index, asked)) {
        return failed("the address is no gateway of a route through that interface");
    }
    Descriptor packet;
    if (const int failure = sendNeighbourFrame(
            index, to, packet,
            [&](const LinkBytes& ownLink, const Ipv6Bytes& own) {
                return neighbourSolicitationFrame(ownLink, own, asked, to);
            },
            "cannot send the solicitation")) {
        return failure;
    }
    return awaitAnswer(packet, waitMs,
                       [&](auto frame) { return answersSolicitation(frame, asked, to); });
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "tell") {
        return tell(argc, argv);
    }
    if ((argc != 5 && argc != 6) || std::string_view(argv[1]) != "ask") {
        return usage();
    }
    const auto index = interfaceIndex(argv[2]);
    const auto asked = unicastIpv4(argv[3]);
    const auto askedIpv6 = asked ? std::nullopt : linkLocalIpv6(argv[3]);
    const auto to = unicastLinkAddress(argv[4]);
    const auto waitMs = argc == 6 ? interfaceIndex(argv[5]) : std::optional<int>(0);
    if (!index || (!asked && !askedIpv6) || !to || !waitMs || *waitMs > 5000) {
        return usage();
    }
    if (askedIpv6) {
        return askIpv6(*index, *askedIpv6, *to, *waitMs);
    }
    const auto own = ownAddressToward(*asked, *index);
    if (!own) {
        return failed("no address of this interface on the route to the address asked");
    }
    Descriptor packet;
    LinkBytes ownLink{};
    if (openBound(*index, ETH_P_ARP, packet, ownLink) != 0) {
        return failed("cannot open a packet socket on the interface");
    }
    const auto frame = arpRequestFrame(ownLink, *own, *asked, *to);
    if (sendTo(packet, *index, ETH_P_ARP, *to, frame) != 0) {
        return failed("cannot send the request");
    }
    return awaitAnswer(packet, *waitMs,
                       [&](auto frame) { return answersArpRequest(frame, *asked, *to); });
}
