// SPDX-License-Identifier: MIT
// The echo client: one ICMP echo request per call of Ping, its outcome reported through the
// PingReturn event before Ping returns. It keeps nothing between calls but pingTimeout.
#pragma once

#include "platform.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tarnvik {

// Whether the normalisation reads `text` as a web-style address (a host name to resolve): it
// begins with "www." or "http", in any case.
bool webStyleAddress(std::string_view text);

class cping {
  public:
    // Raised exactly once, synchronously, inside every Ping.
    using PingReturnHandler = std::function<void(std::string& ipAddress, std::string& successStatus,
                                                 std::int32_t& roundTripMilliseconds)>;

    explicit cping(std::unique_ptr<Platform> platform = makeSystemPlatform());

    std::int32_t pingTimeout() const { return pingTimeout_; }
    void pingTimeout(std::int32_t vNewValue) { pingTimeout_ = vNewValue; }

    // Probes szAddress once. Once the network start-up has succeeded, szAddress is replaced by
    // the normalised target: the dotted address of a resolved web-style text, or empty text.
    // Returns the round-trip time when a reply record came back, otherwise the negated status;
    // 0 when the start-up failed.
    std::int32_t Ping(std::string& szAddress);

    // The dotted text of the first IPv4 address of the name, or empty text.
    std::string funcGetIPFromHostName(std::string sHostName);

    PingReturnHandler PingReturn;

  private:
    friend class cpingTestAccess;

    bool funcStartWinsock();
    void subStopWinsock();
    static std::string funcGetStatusText(std::uint32_t status);
    static std::int32_t funcIPTextToAddr(std::string szAddress);
    std::string funcNormalizeAddress(std::string& sAddress, const bool& bNameOnly);
    std::string funcAddrToIPText(Ipv4Value address);

    // Cleans up the network start-up when a probe or resolution leaves its scope, also when the
    // PingReturn handler throws.
    class StartupScope {
      public:
        explicit StartupScope(cping& owner) : owner_(owner) {}
        StartupScope(const StartupScope&) = delete;
        StartupScope& operator=(const StartupScope&) = delete;
        ~StartupScope() { owner_.subStopWinsock(); }

      private:
        cping& owner_;
    };

    std::unique_ptr<Platform> platform_;
    std::int32_t pingTimeout_ = 1000;
};

} // namespace tarnvik
