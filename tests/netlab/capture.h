// SPDX-License-Identifier: MIT
// Reading what tcpdump captured in a lab namespace: Ethernet frames from a pcap file, and the
// ICMP echo and ARP traffic among them.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tarnvik::netlab {

using Mac = std::array<std::uint8_t, 6>;

struct Frame {
    double time = 0; // seconds since the epoch, from the capture
    Mac destination{};
    Mac source{};
    std::uint16_t etherType = 0;
    std::vector<std::uint8_t> payload;
};

// Every frame of a classic pcap file (microsecond or nanosecond time stamps); frames of a file
// still being written are read up to the last complete one.
std::vector<Frame> readPcap(const std::filesystem::path& file);

struct EchoPacket {
    double time = 0;
    Mac destinationMac{};
    Mac sourceMac{};
    std::string source;      // dotted
    std::string destination; // dotted
    std::uint8_t type = 0;   // 8 request, 0 reply
    std::size_t ipHeaderLength = 0;
    std::string data; // the echo's data bytes
};

std::vector<EchoPacket> echoPackets(const std::vector<Frame>& frames);

struct ArpPacket {
    double time = 0;
    bool broadcast = false;
    std::uint16_t operation = 0; // 1 request, 2 reply
    Mac source{}, destination{}; // the frame's
    Mac senderMac{};
    std::string senderIp;
    std::string targetIp;
};

std::vector<ArpPacket> arpPackets(const std::vector<Frame>& frames);

Mac parseMac(const std::string& text);

} // namespace tarnvik::netlab
