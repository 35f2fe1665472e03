// SPDX-License-Identifier: MIT
// Classification of anything that can arrive: a raw packet with its IP header, a datagram
// without one, and a queued error about a quoted request. The first bytes choose the request
// being waited for. No crash, and nothing counts as an answer that could not be one.
#include "icmp_packet.h"

#include <cstdlib>

namespace {

using namespace tarnvik;

void mustHold(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool inside(std::span<const std::uint8_t> part, std::span<const std::uint8_t> whole) {
    return part.empty() || (part.data() >= whole.data() &&
                            part.data() + part.size() <= whole.data() + whole.size());
}

void checkVerdict(const icmp::Classification& found, const icmp::ProbeKey& key,
                  std::span<const std::uint8_t> input) {
    if (found.verdict == icmp::Verdict::Reply) {
        mustHold(found.status == ip_status::success);
        mustHold(found.source == key.destination);
        mustHold(inside(found.data, input));
    } else {
        mustHold(found.data.empty());
    }
    if (found.verdict == icmp::Verdict::Error) {
        mustHold(found.status != ip_status::success);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) {
        return 0;
    }
    const std::span<const std::uint8_t> input(data, size);
    const icmp::ProbeKey key{ipv4FromOctets(data[1], data[2], data[3], data[4]),
                             static_cast<std::uint16_t>(data[5] << 8 | data[6]),
                             static_cast<std::uint16_t>(data[7] << 8 | data[8])};
    const auto rest = input.subspan(9);
    switch (data[0] % 3) {
    case 0: {
        const auto found = icmp::classifyRawPacket(rest, key);
        checkVerdict(found, key, rest);
        if (found.verdict != icmp::Verdict::Unrelated) {
            // Only a message with a valid checksum is believed.
            const std::size_t header = std::size_t{rest[0] & 0x0Fu} * 4;
            const std::size_t total = static_cast<std::size_t>(rest[2] << 8 | rest[3]);
            mustHold(icmp::internetChecksum(rest.subspan(header, total - header)) == 0);
        }
        break;
    }
    case 1:
        checkVerdict(icmp::classifyDatagram(rest, key.destination ^ (data[0] & 0x80u), key), key,
                     rest);
        break;
    default: {
        const std::uint32_t status = data[0] & 0x40u ? ip_status::success : ip_status::timedOut;
        const auto found = icmp::classifyQueuedError(rest, key.destination, 0, status, key);
        mustHold(found.verdict != icmp::Verdict::Reply);
        checkVerdict(found, key, rest);
        break;
    }
    }
    return 0;
}
