// SPDX-License-Identifier: MIT
#include "cping.h"
#include "ip_text.h"

#include <algorithm>
#include <array>
#include <limits>
#include <string_view>
#include <vector>

namespace tarnvik {

namespace {

constexpr std::array<std::uint8_t, 9> kEchoData{'E', 'c', 'h', 'o', ' ', 'T', 'h', 'i', 's'};

std::string_view trimSpaces(std::string_view text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; });
    return out;
}

// The first `length` characters (all of it if shorter), trimmed of blanks and lower-cased: the
// test heads the normalisation decides by.
std::string head(std::string_view text, std::size_t length) {
    return lowerAscii(trimSpaces(text.substr(0, std::min(length, text.size()))));
}

} // namespace

bool webStyleAddress(std::string_view text) {
    const std::string head4 = head(text, 4);
    return head4 == "www." || head4 == "http";
}

cping::cping(std::unique_ptr<Platform> platform) : platform_(std::move(platform)) {}

bool cping::funcStartWinsock() {
    return platform_ && platform_->startup();
}

void cping::subStopWinsock() {
    if (platform_) {
        platform_->cleanup();
    }
}

std::string cping::funcGetStatusText(std::uint32_t status) {
    return status == ip_status::success ? "success" : "failure";
}

std::int32_t cping::funcIPTextToAddr(std::string szAddress) {
    return static_cast<std::int32_t>(parseDottedIpv4(szAddress).value_or(0));
}

std::string cping::funcAddrToIPText(Ipv4Value address) {
    return platform_->addressToText(address);
}

std::string cping::funcNormalizeAddress(std::string& sAddress, const bool& bNameOnly) {
    if (!webStyleAddress(sAddress)) {
        return sAddress;
    }
    if (head(sAddress, 4) == "http") {
        // "https://" goes as a whole, so that a copied secure address names its host; every other
        // "http" text loses its first seven characters.
        const bool secure = head(sAddress, 8) == "https://";
        const std::size_t schemeLength = secure ? 8 : 7;
        std::string_view host =
            sAddress.size() > schemeLength ? std::string_view(sAddress).substr(schemeLength) : "";
        host = trimSpaces(host);
        // Only the host names the target: not the path, query or fragment, the user in front of
        // an '@', or the port.
        host = host.substr(0, host.find_first_of("/?#"));
        if (const auto at = host.rfind('@'); at != std::string_view::npos) {
            host.remove_prefix(at + 1);
        }
        host = host.substr(0, host.find(':'));
        const bool hasWww = lowerAscii(host.substr(0, 4)) == "www.";
        sAddress = hasWww ? std::string(host) : "www." + std::string(host);
    }
    if (bNameOnly) {
        return sAddress;
    }
    return funcGetIPFromHostName(sAddress);
}

std::string cping::funcGetIPFromHostName(std::string sHostName) {
    std::string name = std::move(sHostName);
    std::string result;
    if (!funcStartWinsock()) {
        return result;
    }
    StartupScope started(*this);
    if (head(name, 4) != "www.") {
        funcNormalizeAddress(name, true);
    }
    // The lookup gets the probe's wait of its own; the echo still gets its full wait after it.
    if (const auto address =
            platform_->resolveFirstIpv4(name, static_cast<std::uint32_t>(pingTimeout_))) {
        result = funcAddrToIPText(*address);
    }
    return result;
}

std::int32_t cping::Ping(std::string& szAddress) {
    EchoReplyRecord reply;
    std::int32_t result = 0;

    if (!funcStartWinsock()) {
        std::string status = funcGetStatusText(ip_status::generalFailure);
        std::int32_t roundTrip = 0;
        if (PingReturn) {
            PingReturn(szAddress, status, roundTrip);
        }
        return 0;
    }
    StartupScope started(*this);

    const std::string normalized = funcNormalizeAddress(szAddress, false);
    szAddress = normalized;
    const auto destination = static_cast<Ipv4Value>(funcIPTextToAddr(szAddress));

    std::uint32_t count = 0;
    std::unique_ptr<EchoHandle> handle = platform_->openEcho();
    if (handle) {
        count = handle->sendEcho(destination, kEchoData, static_cast<std::uint32_t>(pingTimeout_),
                                 reply);
    } else {
        // Without a handle nothing was sent; a record left as cleared would read as success.
        reply.setStatus(ip_status::generalFailure);
    }

    // Negated as an unsigned 32-bit value: a signed negation of 0x80000000 is undefined.
    result = count != 0 ? static_cast<std::int32_t>(reply.roundTripTime())
                        : static_cast<std::int32_t>(0u - reply.status());
    std::string status = funcGetStatusText(reply.status());
    auto roundTrip = static_cast<std::int32_t>(reply.roundTripTime());
    if (PingReturn) {
        PingReturn(szAddress, status, roundTrip);
    }
    return result;
}

} // namespace tarnvik
