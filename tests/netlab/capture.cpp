// SPDX-License-Identifier: MIT
#include "capture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tarnvik::netlab {

namespace {

std::uint32_t read32(const std::vector<std::uint8_t>& bytes, std::size_t at, bool swapped) {
    std::uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, 4);
    return swapped ? __builtin_bswap32(value) : value;
}

std::string dotted(const std::uint8_t* bytes) {
    return std::to_string(bytes[0]) + "." + std::to_string(bytes[1]) + "." +
           std::to_string(bytes[2]) + "." + std::to_string(bytes[3]);
}

} // namespace

std::vector<Frame> readPcap(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    std::vector<Frame> frames;
    if (bytes.size() < 24) {
        return frames;
    }
    const std::uint32_t magic = read32(bytes, 0, false);
    const bool swapped = magic == 0xd4c3b2a1 || magic == 0x4d3cb2a1;
    const std::uint32_t native = swapped ? __builtin_bswap32(magic) : magic;
    const double fraction = native == 0xa1b23c4d ? 1e-9 : 1e-6;
    std::size_t at = 24;
    while (at + 16 <= bytes.size()) {
        const std::uint32_t seconds = read32(bytes, at, swapped);
        const std::uint32_t part = read32(bytes, at + 4, swapped);
        const std::uint32_t length = read32(bytes, at + 8, swapped);
        at += 16;
        if (at + length > bytes.size() || length < 14) {
            break;
        }
        Frame frame;
        frame.time = seconds + part * fraction;
        std::memcpy(frame.destination.data(), bytes.data() + at, 6);
        std::memcpy(frame.source.data(), bytes.data() + at + 6, 6);
        frame.etherType = static_cast<std::uint16_t>(bytes[at + 12] << 8 | bytes[at + 13]);
        frame.payload.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 14),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + length));
        frames.push_back(std::move(frame));
        at += length;
    }
    return frames;
}

std::vector<EchoPacket> echoPackets(const std::vector<Frame>& frames) {
    std::vector<EchoPacket> packets;
    for (const auto& frame : frames) {
        const auto& ip = frame.payload;
        if (frame.etherType != 0x0800 || ip.size() < 20 || ip[9] != 1) {
            continue;
        }
        const std::size_t headerLength = std::size_t{ip[0] & 0x0Fu} * 4;
        const std::size_t total = static_cast<std::size_t>(ip[2] << 8 | ip[3]);
        if (total > ip.size() || headerLength + 8 > total) {
            continue;
        }
        const std::uint8_t type = ip[headerLength];
        if (type != 0 && type != 8) {
            continue;
        }
        EchoPacket packet;
        packet.time = frame.time;
        packet.destinationMac = frame.destination;
        packet.sourceMac = frame.source;
        packet.source = dotted(&ip[12]);
        packet.destination = dotted(&ip[16]);
        packet.type = type;
        packet.ipHeaderLength = headerLength;
        packet.data.assign(ip.begin() + static_cast<std::ptrdiff_t>(headerLength + 8),
                           ip.begin() + static_cast<std::ptrdiff_t>(total));
        packets.push_back(std::move(packet));
    }
    return packets;
}

std::vector<ArpPacket> arpPackets(const std::vector<Frame>& frames) {
    std::vector<ArpPacket> packets;
    for (const auto& frame : frames) {
        const auto& arp = frame.payload;
        if (frame.etherType != 0x0806 || arp.size() < 28) {
            continue;
        }
        ArpPacket packet;
        packet.time = frame.time;
        packet.broadcast = frame.destination == Mac{0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
        packet.operation = static_cast<std::uint16_t>(arp[6] << 8 | arp[7]);
        packet.source = frame.source;
        packet.destination = frame.destination;
        std::copy_n(arp.begin() + 8, 6, packet.senderMac.begin());
        packet.senderIp = dotted(&arp[14]);
        packet.targetIp = dotted(&arp[24]);
        packets.push_back(std::move(packet));
    }
    return packets;
}

Mac parseMac(const std::string& text) {
    Mac mac{};
    unsigned int b[6] = {};
    std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]);
    for (int i = 0; i < 6; ++i) {
        mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(b[i]);
    }
    return mac;
}

} // namespace tarnvik::netlab
