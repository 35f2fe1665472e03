// SPDX-License-Identifier: MIT
// Address normalisation of any text, through a platform that resolves in memory and never
// touches the network: no crash, a web-style text loses its scheme, user and everything after
// the host, and resolving asks for at most the one normalised name.
#include "cping_access.h"

#include <cstdlib>
#include <string>

namespace {

class MemoryPlatform final : public tarnvik::Platform {
  public:
    std::vector<std::string> lookups;

    bool startup() noexcept override { return true; }
    void cleanup() noexcept override {}
    std::unique_ptr<tarnvik::EchoHandle> openEcho() noexcept override { std::abort(); }
    std::optional<tarnvik::Ipv4Value> resolveFirstIpv4(const std::string& name,
                                                       std::uint32_t) noexcept override {
        lookups.push_back(name);
        if (name == "www.example.net") {
            return tarnvik::ipv4FromOctets(10, 0, 0, 1);
        }
        return std::nullopt;
    }
    std::string addressToText(tarnvik::Ipv4Value) noexcept override { return "10.0.0.1"; }
};

std::string lowerHead(const std::string& text, std::size_t length) {
    std::string head = text.substr(0, length);
    const auto first = head.find_first_not_of(' ');
    head = first == std::string::npos ? ""
                                      : head.substr(first, head.find_last_not_of(' ') - first + 1);
    for (char& c : head) {
        c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
    }
    return head;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using tarnvik::cpingTestAccess;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool webStyle = lowerHead(text, 4) == "www." || lowerHead(text, 4) == "http";

    auto owned = std::make_unique<MemoryPlatform>();
    MemoryPlatform* platform = owned.get();
    tarnvik::cping client(std::move(owned));

    std::string nameOnly = text;
    const std::string name = cpingTestAccess::funcNormalizeAddress(client, nameOnly, true);
    if (name != nameOnly || !platform->lookups.empty() || name.size() > text.size() + 4) {
        std::abort();
    }
    if (!webStyle && name != text) {
        std::abort(); // anything else passes through untouched
    }
    if (lowerHead(text, 4) == "http" && name.find_first_of(":/?#@") != std::string::npos) {
        std::abort();
    }

    std::string resolved = text;
    const std::string address = cpingTestAccess::funcNormalizeAddress(client, resolved, false);
    if (webStyle) {
        if (platform->lookups.size() != 1 || (address != "" && address != "10.0.0.1")) {
            std::abort();
        }
    } else if (!platform->lookups.empty() || address != text) {
        std::abort();
    }
    return 0;
}
