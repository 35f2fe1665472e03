// SPDX-License-Identifier: MIT
#include "icmp_packet.h"

#include <cerrno>

namespace tarnvik::icmp {

namespace {

constexpr std::size_t kMinIpHeader = 20;
constexpr std::uint8_t kProtocolIcmp = 1;

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

Ipv4Value readAddress(std::span<const std::uint8_t> bytes, std::size_t at) {
    return ipv4FromOctets(bytes[at], bytes[at + 1], bytes[at + 2], bytes[at + 3]);
}

// Length of a well-formed IPv4 header at the start of `bytes`, or 0.
std::size_t ipHeaderLength(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kMinIpHeader || (bytes[0] >> 4) != 4) {
        return 0;
    }
    const std::size_t length = std::size_t{bytes[0] & 0x0Fu} * 4;
    return (length < kMinIpHeader || length > bytes.size()) ? 0 : length;
}

// An error message quotes the IP header of the packet it concerns and at least the first eight
// bytes of that packet's payload (RFC 792): both must be our request.
bool quotesOurRequest(std::span<const std::uint8_t> quoted, const ProbeKey& key) {
    const std::size_t headerLength = ipHeaderLength(quoted);
    if (headerLength == 0 || quoted.size() < headerLength + kHeaderSize) {
        return false;
    }
    const auto request = quoted.subspan(headerLength);
    return quoted[9] == kProtocolIcmp && readAddress(quoted, 16) == key.destination &&
           request[0] == kEchoRequest && read16(request, 4) == key.identifier &&
           read16(request, 6) == key.sequence;
}

Classification classifyMessage(std::span<const std::uint8_t> message, Ipv4Value source,
                               const ProbeKey& key) {
    Classification result;
    result.source = source;
    if (message.size() < kHeaderSize) {
        return result;
    }
    const std::uint8_t type = message[0];
    if (type == kEchoReply) {
        // RFC 1122 3.2.2.6: the reply comes from the address the request went to.
        if (source == key.destination && message[1] == 0 && read16(message, 4) == key.identifier &&
            read16(message, 6) == key.sequence) {
            result.verdict = Verdict::Reply;
            result.data = message.subspan(kHeaderSize);
        }
        return result;
    }
    if (type == kDestinationUnreachable || type == kTimeExceeded || type == kParameterProblem) {
        if (quotesOurRequest(message.subspan(kHeaderSize), key)) {
            result.verdict = Verdict::Error;
            result.status = statusForIcmpError(type, message[1]);
        }
    }
    return result;
}

} // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    if (i < bytes.size()) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8);
    }
    while (sum >> 16) {
        sum = (sum & 0xFFFFu) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> packet(kHeaderSize + data.size(), 0);
    packet[0] = kEchoRequest;
    packet[4] = static_cast<std::uint8_t>(identifier >> 8);
    packet[5] = static_cast<std::uint8_t>(identifier);
    packet[6] = static_cast<std::uint8_t>(sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(sequence);
    std::copy(data.begin(), data.end(), packet.begin() + kHeaderSize);
    const std::uint16_t checksum = internetChecksum(packet);
    packet[2] = static_cast<std::uint8_t>(checksum >> 8);
    packet[3] = static_cast<std::uint8_t>(checksum);
    return packet;
}

Classification classifyRawPacket(std::span<const std::uint8_t> packet, const ProbeKey& key) {
    const std::size_t headerLength = ipHeaderLength(packet);
    if (headerLength == 0 || packet[9] != kProtocolIcmp) {
        return {};
    }
    // The total length in the header bounds the message; trailing link padding is not ours.
    const std::size_t totalLength = read16(packet, 2);
    if (totalLength < headerLength || totalLength > packet.size()) {
        return {};
    }
    const auto message = packet.subspan(headerLength, totalLength - headerLength);
    if (internetChecksum(message) != 0) {
        return {};
    }
    Classification result = classifyMessage(message, readAddress(packet, 12), key);
    result.ttl = packet[8];
    return result;
}

Classification classifyDatagram(std::span<const std::uint8_t> message, Ipv4Value source,
                                const ProbeKey& key) {
    return classifyMessage(message, source, key);
}

Classification classifyQueuedError(std::span<const std::uint8_t> quotedRequest,
                                   Ipv4Value quotedDestination, Ipv4Value offender,
                                   std::uint32_t status, const ProbeKey& key) {
    Classification result;
    result.source = offender;
    if (quotedRequest.size() >= kHeaderSize && quotedRequest[0] == kEchoRequest &&
        quotedDestination == key.destination && read16(quotedRequest, 4) == key.identifier &&
        read16(quotedRequest, 6) == key.sequence && status != ip_status::success) {
        result.verdict = Verdict::Error;
        result.status = status;
    }
    return result;
}

std::uint32_t statusForIcmpError(std::uint8_t type, std::uint8_t code) {
    using namespace ip_status;
    if (type == kTimeExceeded) {
        return code == 0 ? ttlExpiredTransit : ttlExpiredReassembly;
    }
    if (type == kParameterProblem) {
        return parameterProblem;
    }
    switch (code) {
    case 0:
    case 6:
    case 9:
    case 11:
        return destNetUnreachable;
    case 2:
        return destProtocolUnreachable;
    case 3:
        return destPortUnreachable;
    case 4:
        return packetTooBig;
    case 5:
        return badRoute;
    default:
        return destHostUnreachable;
    }
}

std::uint32_t statusForSendError(int error) {
    switch (error) {
    case EHOSTUNREACH:
        return ip_status::destHostUnreachable;
    case ENOBUFS:
    case ENOMEM:
        return ip_status::noResources;
    default:
        return ip_status::generalFailure;
    }
}

} // namespace tarnvik::icmp
