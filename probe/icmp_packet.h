// SPDX-License-Identifier: MIT
// ICMP echo packets as pure functions over bytes: building a request, the Internet checksum, and
// deciding whether something that arrived answers our request. No sockets here, so every rule is
// tested on crafted bytes.
#pragma once

#include "platform.h"

#include <cstdint>
#include <span>
#include <vector>

namespace tarnvik::icmp {

inline constexpr std::uint8_t kEchoReply = 0;
inline constexpr std::uint8_t kDestinationUnreachable = 3;
inline constexpr std::uint8_t kEchoRequest = 8;
inline constexpr std::uint8_t kTimeExceeded = 11;
inline constexpr std::uint8_t kParameterProblem = 12;
inline constexpr std::size_t kHeaderSize = 8;

// RFC 1071 one's-complement sum, ready to be stored big-endian in the checksum field.
std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

// Type 8, code 0, identifier, sequence, the data, and a valid checksum.
std::vector<std::uint8_t> buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                           std::span<const std::uint8_t> data);

// What identifies one request: where it went and its identifier and sequence.
struct ProbeKey {
    Ipv4Value destination = 0;
    std::uint16_t identifier = 0;
    std::uint16_t sequence = 0;
};

enum class Verdict { Unrelated, Reply, Error };

struct Classification {
    Verdict verdict = Verdict::Unrelated;
    std::uint32_t status = ip_status::success; // IP status for Reply (0) or Error
    Ipv4Value source = 0;                      // who sent what arrived
    std::uint8_t ttl = 0;                      // from the IP header when it was seen
    std::span<const std::uint8_t> data;        // echoed data of a Reply
};

// What a raw socket delivers: an IPv4 header followed by an ICMP message. A reply counts only
// from the destination, with our identifier and sequence and a valid checksum; an error counts
// only when the request it quotes is ours.
Classification classifyRawPacket(std::span<const std::uint8_t> packet, const ProbeKey& key);

// What a ping (datagram) socket delivers: the ICMP message alone, from `source`. The kernel has
// already checked the checksum and the identifier.
Classification classifyDatagram(std::span<const std::uint8_t> message, Ipv4Value source,
                                const ProbeKey& key);

// An error that a ping socket queued about a request it sent: `quotedRequest` is that request's
// ICMP message and `quotedDestination` where it went. `icmpType` and `icmpCode` describe the
// error; `status` is used when the kernel raised it locally without an ICMP message.
Classification classifyQueuedError(std::span<const std::uint8_t> quotedRequest,
                                   Ipv4Value quotedDestination, Ipv4Value offender,
                                   std::uint32_t status, const ProbeKey& key);

// IP status of an ICMP error about our request.
std::uint32_t statusForIcmpError(std::uint8_t type, std::uint8_t code);

// IP status of a send the kernel refused, by errno.
std::uint32_t statusForSendError(int error);

} // namespace tarnvik::icmp
