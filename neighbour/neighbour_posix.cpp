// SPDX-License-Identifier: MIT
// The route and the neighbour entry through rtnetlink: RTM_GETROUTE for the destination, then
// RTM_GETNEIGH for the next hop's one entry on the route's interface. Unprivileged, like
// `ip route get` and `ip neigh get`; notifications through the neighbour group, like
// `ip monitor neigh`.
#include "neighbour.h"
#include "netlink.h"

#include <arpa/inet.h>
#include <libmnl/libmnl.h>
#include <linux/neighbour.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <linux/filter.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>
#include <vector>

namespace tarnvik {

namespace {

struct Route {
    bool local = false;
    int interfaceIndex = 0;
    Ipv4Value gateway = 0;
};

// An address attribute's bytes, which are in network order on every host.
std::optional<Ipv4Value> addressOf(const nlattr* attribute) {
    if (attribute == nullptr || mnl_attr_get_payload_len(attribute) != 4) {
        return std::nullopt;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(mnl_attr_get_payload(attribute));
    return ipv4FromOctets(bytes[0], bytes[1], bytes[2], bytes[3]);
}

std::optional<Ipv6Address> ipv6AddressOf(const nlattr* attribute) {
    Ipv6Address address{};
    if (attribute == nullptr || mnl_attr_get_payload_len(attribute) != address.size()) {
        return std::nullopt;
    }
    std::memcpy(address.data(), mnl_attr_get_payload(attribute), address.size());
    return address;
}

void putAddress(nlmsghdr* message, std::uint16_t type, Ipv4Value address) {
    const auto bytes = ipv4Octets(address);
    mnl_attr_put(message, type, bytes.size(), bytes.data());
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

// The link-layer address an entry holds; none while it is still being resolved or has failed.
std::string entryLinkAddress(const ndmsg& header, const netlink::NeighbourAttributes& attributes) {
    const nlattr* link = attributes[NDA_LLADDR];
    if (link == nullptr || (header.ndm_state & (NUD_INCOMPLETE | NUD_FAILED)) != 0) {
        return {};
    }
    return linkAddressText({static_cast<const std::uint8_t*>(mnl_attr_get_payload(link)),
                            mnl_attr_get_payload_len(link)});
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

// One neighbour message as a change: its interface, address, link-layer address and state.
std::optional<NeighbourChange> changeOf(const nlmsghdr* message) {
    if (message->nlmsg_type != RTM_NEWNEIGH && message->nlmsg_type != RTM_DELNEIGH) {
        return std::nullopt;
    }
    const auto* header = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (header->ndm_family != AF_INET) {
        return std::nullopt;
    }
    const auto attributes = netlink::neighbourAttributes(message);
    const auto address = addressOf(attributes[NDA_DST]);
    if (!address) {
        return std::nullopt;
    }
    NeighbourChange change;
    change.interfaceIndex = header->ndm_ifindex;
    change.reading.nextHop = *address;
    change.reading.interfaceIndex = header->ndm_ifindex;
    if (message->nlmsg_type == RTM_DELNEIGH) {
        return change;
    }
    change.reading.state = stateWord(header->ndm_state);
    change.reading.linkAddress = entryLinkAddress(*header, attributes);
    return change;
}

int onEntry(const nlmsghdr* message, void* data) {
    if (auto change = changeOf(message)) {
        auto& reading = *static_cast<NeighbourReading*>(data);
        reading.state = change->reading.state;
        reading.linkAddress = change->reading.linkAddress;
    }
    return MNL_CB_OK;
}

unsigned int firstSequence() {
    return static_cast<unsigned int>(std::time(nullptr));
}

} // namespace

namespace {

int onIpv6Route(const nlmsghdr* message, void* data) {
    auto& routers = *static_cast<std::vector<Ipv6Router>*>(data);
    const auto* header = static_cast<const rtmsg*>(mnl_nlmsg_get_payload(message));
    if (header->rtm_family != AF_INET6 || header->rtm_dst_len != 0 ||
        header->rtm_table != RT_TABLE_MAIN || header->rtm_type != RTN_UNICAST) {
        return MNL_CB_OK;
    }
    netlink::forEachNextHop(message, [&](const nlattr* gateway, int interfaceIndex) {
        const auto address = gateway ? ipv6AddressOf(gateway) : std::nullopt;
        if (address && interfaceIndex > 0) {
            Ipv6Router router;
            router.interfaceIndex = interfaceIndex;
            router.address = *address;
            routers.push_back(router);
        }
    });
    return MNL_CB_OK;
}

// One entry's state and link-layer address into `Entry` (an Ipv6Router or a NeighbourReading).
template <typename Entry> int onEntry(const nlmsghdr* message, void* data) {
    auto& entry = *static_cast<Entry*>(data);
    const auto* header = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
    if (message->nlmsg_type == RTM_NEWNEIGH) {
        entry.state = stateWord(header->ndm_state);
        entry.linkAddress = entryLinkAddress(*header, netlink::neighbourAttributes(message));
    }
    return MNL_CB_OK;
}

// Asks for the one entry of `address` on `interfaceIndex`; none is no failure.
template <typename Entry>
int askForEntry(mnl_socket* socket, unsigned int sequence, int interfaceIndex,
                std::span<const std::uint8_t> address, Entry& entry) {
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [request, header] =
        netlink::putRequest<ndmsg>(buffer, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_ACK, sequence);
    header->ndm_family = address.size() == 16 ? AF_INET6 : AF_INET;
    header->ndm_ifindex = interfaceIndex;
    mnl_attr_put(request, NDA_DST, address.size(), address.data());
    const int error = netlink::exchange(socket, request, onEntry<Entry>, &entry);
    return error == ENOENT ? 0 : error;
}

} // namespace

int readIpv6Routers(std::vector<Ipv6Router>& routers, const std::vector<Ipv6Router>& alsoEntries) {
    routers.clear();
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        return errno;
    }
    unsigned int sequence = firstSequence();
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    const auto [dump, route] =
        netlink::putRequest<rtmsg>(buffer, RTM_GETROUTE, NLM_F_REQUEST | NLM_F_DUMP, ++sequence);
    route->rtm_family = AF_INET6;
    if (const int error = netlink::exchange(socket.get(), dump, onIpv6Route, &routers)) {
        return error;
    }
    addUnrouted(routers, alsoEntries);
    // Each router's one entry, asked for by address and interface: a dump would cost the whole
    // table, every IPv6 host on the link.
    for (auto& router : routers) {
        if (const int error = askForEntry(socket.get(), ++sequence, router.interfaceIndex,
                                          router.address, router)) {
            return error;
        }
    }
    return 0;
}

int readEntry(int interfaceIndex, std::span<const std::uint8_t> address, NeighbourReading& entry) {
    entry = NeighbourReading{};
    entry.interfaceIndex = interfaceIndex;
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        return errno;
    }
    return askForEntry(socket.get(), firstSequence(), interfaceIndex, address, entry);
}

std::string ipv6Text(const Ipv6Address& address, int interfaceIndex) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET6, address.data(), text, sizeof text);
    std::string out = text;
    char name[IF_NAMESIZE] = {};
    if (address[0] == 0xfe && (address[1] & 0xc0) == 0x80 && interfaceIndex > 0 &&
        ::if_indextoname(static_cast<unsigned>(interfaceIndex), name) != nullptr) {
        out += std::string("%") + name;
    }
    return out;
}

std::string interfaceName(int interfaceIndex) {
    char name[IF_NAMESIZE] = {};
    return interfaceIndex > 0 &&
                   ::if_indextoname(static_cast<unsigned>(interfaceIndex), name) != nullptr
               ? name
               : "";
}

std::string interfaceLinkAddress(int interfaceIndex) {
    char name[IF_NAMESIZE] = {};
    if (interfaceIndex <= 0 ||
        ::if_indextoname(static_cast<unsigned>(interfaceIndex), name) == nullptr) {
        return {};
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return {};
    }
    ifreq request{};
    std::copy_n(name, IF_NAMESIZE - 1, request.ifr_name);
    const bool read = ::ioctl(fd, SIOCGIFHWADDR, &request) == 0;
    ::close(fd);
    if (!read) {
        return {};
    }
    return linkAddressText({reinterpret_cast<const std::uint8_t*>(request.ifr_hwaddr.sa_data), 6});
}

int readNeighbour(Ipv4Value destination, NeighbourReading& reading) {
    reading = NeighbourReading{};
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket) {
        return errno;
    }
    auto sequence = firstSequence();
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);

    const auto [routeRequest, route] =
        netlink::putRequest<rtmsg>(buffer, RTM_GETROUTE, NLM_F_REQUEST | NLM_F_ACK, ++sequence);
    route->rtm_family = AF_INET;
    route->rtm_dst_len = 32;
    putAddress(routeRequest, RTA_DST, destination);
    Route found;
    if (const int error = netlink::exchange(socket.get(), routeRequest, onRoute, &found)) {
        return error;
    }
    if (found.local) {
        reading.local = true;
        return 0;
    }
    reading.nextHop = found.gateway != 0 ? found.gateway : destination;
    reading.interfaceIndex = found.interfaceIndex;

    // The one entry, asked for by address and interface: a dump would cost the whole table.
    const auto [entryRequest, entry] =
        netlink::putRequest<ndmsg>(buffer, RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_ACK, ++sequence);
    entry->ndm_family = AF_INET;
    entry->ndm_ifindex = found.interfaceIndex;
    putAddress(entryRequest, NDA_DST, reading.nextHop);
    const int error = netlink::exchange(socket.get(), entryRequest, onEntry, &reading);
    // No entry is an answer, not a failure.
    return error == ENOENT ? 0 : error;
}

namespace {

// The first entry of `family` on the interface that holds `linkAddress`, besides `besides`.
template <typename Address>
std::optional<Address>
neighbourHolding(std::uint8_t family, std::optional<Address> (*addressIn)(const nlattr*),
                 int interfaceIndex, const Address& besides, const std::string& linkAddress) {
    const netlink::Socket socket = netlink::openRoutingSocket();
    if (!socket || linkAddress.empty()) {
        return std::nullopt;
    }
    struct Search {
        std::uint8_t family;
        std::optional<Address> (*addressIn)(const nlattr*);
        int interfaceIndex;
        const Address& besides;
        const std::string& linkAddress;
        std::optional<Address> found;
    } search{family, addressIn, interfaceIndex, besides, linkAddress, std::nullopt};
    const int error = netlink::dumpNeighbours(
        socket.get(), firstSequence(),
        [](const nlmsghdr* message, void* data) {
            auto& s = *static_cast<Search*>(data);
            const auto* header = static_cast<const ndmsg*>(mnl_nlmsg_get_payload(message));
            if (s.found || message->nlmsg_type != RTM_NEWNEIGH || header->ndm_family != s.family ||
                header->ndm_ifindex != s.interfaceIndex) {
                return MNL_CB_OK;
            }
            const auto attributes = netlink::neighbourAttributes(message);
            const auto address = s.addressIn(attributes[NDA_DST]);
            if (address && *address != s.besides &&
                entryLinkAddress(*header, attributes) == s.linkAddress) {
                s.found = address;
            }
            return MNL_CB_OK;
        },
        &search, family);
    return error == 0 ? search.found : std::nullopt;
}

} // namespace

std::optional<Ipv4Value> neighbourWithLinkAddress(int interfaceIndex, Ipv4Value besides,
                                                  const std::string& linkAddress) {
    return neighbourHolding<Ipv4Value>(AF_INET, addressOf, interfaceIndex, besides, linkAddress);
}

std::optional<Ipv6Address> ipv6NeighbourWithLinkAddress(int interfaceIndex,
                                                        const Ipv6Address& besides,
                                                        const std::string& linkAddress) {
    return neighbourHolding<Ipv6Address>(AF_INET6, ipv6AddressOf, interfaceIndex, besides,
                                         linkAddress);
}

struct NeighbourEvents::Channel {
    netlink::Socket socket;
};

NeighbourEvents::NeighbourEvents() {
    netlink::Socket socket(mnl_socket_open2(NETLINK_ROUTE, SOCK_NONBLOCK | SOCK_CLOEXEC));
    const unsigned int groups = 1u << (RTNLGRP_NEIGH - 1) | 1u << (RTNLGRP_IPV6_ROUTE - 1);
    if (socket && mnl_socket_bind(socket.get(), groups, MNL_SOCKET_AUTOPID) == 0) {
        channel_ = std::make_unique<Channel>(Channel{std::move(socket)});
    }
}

NeighbourEvents::~NeighbourEvents() = default;

int NeighbourEvents::descriptor() const {
    return channel_ ? mnl_socket_get_fd(channel_->socket.get()) : -1;
}

namespace {

// A classic BPF program whose forward jumps go to places marked later, resolved at the end.
class FilterProgram {
  public:
    static constexpr int kNext = -1;

    int newPlace() {
        places_.push_back(0);
        return static_cast<int>(places_.size()) - 1;
    }
    void mark(int place) { places_[static_cast<std::size_t>(place)] = program_.size(); }
    void load(std::uint16_t size, std::uint32_t offset) { put(BPF_LD | size | BPF_ABS, offset); }
    void jumpIfEqual(std::uint32_t value, int ifTrue, int ifFalse) {
        jumps_.push_back({program_.size(), ifTrue, ifFalse});
        put(BPF_JMP | BPF_JEQ | BPF_K, value);
    }
    // A block's end: `drop` returns nothing of the message, `accept` all of it.
    void returns(int drop, int accept) {
        mark(drop);
        put(BPF_RET | BPF_K, 0);
        mark(accept);
        put(BPF_RET | BPF_K, 0xffffffff);
    }
    // The program, or nothing when a jump reaches beyond the 255 instructions it can skip.
    std::optional<std::vector<sock_filter>> resolved() {
        for (const auto& jump : jumps_) {
            auto& instruction = program_[jump.at];
            const auto distance = [&](int to) {
                return to == kNext ? 0 : places_[static_cast<std::size_t>(to)] - jump.at - 1;
            };
            if (distance(jump.ifTrue) > 255 || distance(jump.ifFalse) > 255) {
                return std::nullopt;
            }
            instruction.jt = static_cast<std::uint8_t>(distance(jump.ifTrue));
            instruction.jf = static_cast<std::uint8_t>(distance(jump.ifFalse));
        }
        return program_;
    }

  private:
    void put(std::uint16_t code, std::uint32_t k) { program_.push_back({code, 0, 0, k}); }
    struct Jump {
        std::size_t at;
        int ifTrue, ifFalse;
    };
    std::vector<sock_filter> program_;
    std::vector<Jump> jumps_;
    std::vector<std::size_t> places_;
};

// Netlink's own fields are in host order, which BPF's loads read as big-endian.
constexpr std::uint32_t bigEndianView16(std::uint16_t value) {
    return static_cast<std::uint32_t>((value & 0xff) << 8 | value >> 8);
}

std::uint32_t networkWord(const std::uint8_t* bytes) {
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | bytes[3];
}

// Looked at as each notification arrives, before it is queued: a neighbour message (new or
// deleted) whose destination, the first attribute the kernel puts after the header
// (neigh_fill_info), is one of the followed IPv4 addresses or IPv6 routers; and, while routes are
// followed, a new or deleted IPv6 default route. Each block returns by itself, so that no jump
// crosses another's addresses.
std::optional<std::vector<sock_filter>> neighbourFilter(std::span<const Ipv4Value> addresses,
                                                        std::span<const Ipv6Address> routers,
                                                        bool routes) {
    constexpr std::uint32_t kType = offsetof(nlmsghdr, nlmsg_type);
    constexpr std::uint32_t kFamily = NLMSG_HDRLEN + offsetof(ndmsg, ndm_family);
    constexpr std::uint32_t kDestinationLength = NLMSG_HDRLEN + offsetof(rtmsg, rtm_dst_len);
    constexpr std::uint32_t kDestination = NLMSG_HDRLEN + NLMSG_ALIGN(sizeof(ndmsg));
    const auto destinationHeader = [](std::uint16_t length) {
        return bigEndianView16(length) << 16 | bigEndianView16(NDA_DST);
    };
    constexpr int kNext = FilterProgram::kNext;
    FilterProgram filter;
    const int neighbour = filter.newPlace(), ipv4 = filter.newPlace(), ipv6 = filter.newPlace(),
              route = filter.newPlace(), drop = filter.newPlace(), accept = filter.newPlace();
    filter.load(BPF_H, kType);
    filter.jumpIfEqual(bigEndianView16(RTM_NEWNEIGH), neighbour, kNext);
    filter.jumpIfEqual(bigEndianView16(RTM_DELNEIGH), neighbour, kNext);
    filter.jumpIfEqual(bigEndianView16(RTM_NEWROUTE), routes ? route : drop, kNext);
    filter.jumpIfEqual(bigEndianView16(RTM_DELROUTE), routes ? route : drop, drop);

    filter.mark(neighbour);
    filter.load(BPF_B, kFamily);
    filter.jumpIfEqual(AF_INET, ipv4, kNext);
    filter.jumpIfEqual(AF_INET6, ipv6, drop);

    filter.mark(route); // rtm_family sits where ndm_family does
    filter.load(BPF_B, kFamily);
    filter.jumpIfEqual(AF_INET6, kNext, drop);
    filter.load(BPF_B, kDestinationLength);
    filter.jumpIfEqual(0, accept, drop);
    filter.returns(drop, accept);

    filter.mark(ipv4);
    const int ipv4Drop = filter.newPlace(), ipv4Accept = filter.newPlace();
    filter.load(BPF_W, kDestination);
    filter.jumpIfEqual(destinationHeader(8), kNext, ipv4Drop);
    filter.load(BPF_W, kDestination + 4);
    for (const auto address : addresses) {
        const auto octets = ipv4Octets(address);
        filter.jumpIfEqual(networkWord(octets.data()), ipv4Accept, kNext);
    }
    filter.returns(ipv4Drop, ipv4Accept);

    filter.mark(ipv6);
    const int ipv6Drop = filter.newPlace(), ipv6Accept = filter.newPlace();
    filter.load(BPF_W, kDestination);
    filter.jumpIfEqual(destinationHeader(20), kNext, ipv6Drop);
    for (const auto& router : routers) {
        const int other = filter.newPlace();
        for (std::uint32_t word = 0; word < 4; ++word) {
            filter.load(BPF_W, kDestination + 4 + 4 * word);
            filter.jumpIfEqual(networkWord(router.data() + 4 * word),
                               word == 3 ? ipv6Accept : kNext, other);
        }
        filter.mark(other);
    }
    filter.returns(ipv6Drop, ipv6Accept);
    return filter.resolved();
}

} // namespace

int NeighbourEvents::follow(std::span<const Ipv4Value> addresses) {
    followed_.assign(addresses.begin(), addresses.end());
    return attachFilter();
}

int NeighbourEvents::followRouters(std::span<const Ipv6Address> routers, bool routes) {
    routers_.assign(routers.begin(), routers.end());
    routes_ = routes;
    return attachFilter();
}

bool NeighbourEvents::routersChanged() {
    return std::exchange(routersChanged_, false);
}

int NeighbourEvents::attachFilter() {
    if (!channel_) {
        return 0;
    }
    const int fd = mnl_socket_get_fd(channel_->socket.get());
    auto program = neighbourFilter(followed_, routers_, routes_);
    int error = E2BIG;
    if (program) {
        const sock_fprog filter{static_cast<unsigned short>(program->size()), program->data()};
        error =
            ::setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) == 0 ? 0 : errno;
    }
    if (error != 0) {
        // The filter attached before would drop what is followed now: none at all, then.
        int none = 0;
        (void)::setsockopt(fd, SOL_SOCKET, SO_DETACH_FILTER, &none, sizeof none);
    }
    return error;
}

void NeighbourEvents::drain(const std::function<void(const NeighbourChange&)>& onChange) {
    if (!channel_) {
        return;
    }
    std::vector<char> buffer(MNL_SOCKET_BUFFER_SIZE);
    for (;;) {
        const ssize_t got =
            mnl_socket_recvfrom(channel_->socket.get(), buffer.data(), buffer.size());
        if (got < 0) {
            if (errno == EINTR || errno == ENOBUFS) {
                // ENOBUFS: notifications were lost to an overrun; the next read catches up.
                routersChanged_ = routersChanged_ || errno == ENOBUFS;
                continue;
            }
            return; // EAGAIN: all read
        }
        auto* message = reinterpret_cast<const nlmsghdr*>(buffer.data());
        for (auto left = static_cast<int>(got); mnl_nlmsg_ok(message, left);
             message = mnl_nlmsg_next(message, &left)) {
            if (const auto change = changeOf(message)) {
                onChange(*change);
            } else if (message->nlmsg_type == RTM_NEWROUTE || message->nlmsg_type == RTM_DELROUTE ||
                       message->nlmsg_type == RTM_NEWNEIGH || message->nlmsg_type == RTM_DELNEIGH) {
                routersChanged_ = true; // an IPv6 router's: the filter passes no other
            }
        }
    }
}

} // namespace tarnvik
