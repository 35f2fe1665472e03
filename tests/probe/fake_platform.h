// SPDX-License-Identifier: MIT
// A scripted platform layer: it records every call the echo client makes and answers as told.
#pragma once

#include "platform.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tarnvik::testing {

struct EchoCall {
    Ipv4Value destination = 0;
    std::vector<std::uint8_t> data;
    std::uint32_t wait = 0;
};

// What the client did, kept apart from the platform so that a test can read it after the client
// has taken the platform over.
struct PlatformLog {
    int startups = 0;
    int cleanups = 0;
    int opens = 0;
    int closes = 0;
    std::vector<EchoCall> echoes;
    std::vector<std::string> lookups;
    std::vector<std::uint32_t> lookupWaits;
    int echoesInProgress = 0;
    int mostEchoesAtOnce = 0;
    // The echoes are sent from the window's worker: a test reading them while one may be out
    // asks here.
    std::size_t echoCount() const {
        const std::lock_guard lock(mutex);
        return echoes.size();
    }
    mutable std::mutex mutex;
};

// The answer to one echo: the count returned and what is written into the record.
struct EchoScript {
    std::uint32_t count = 1;
    std::uint32_t status = 0;
    std::uint32_t roundTrip = 0;
    std::chrono::milliseconds delay{0}; // how long the echo blocks its caller
};

class FakePlatform final : public Platform {
  public:
    explicit FakePlatform(std::shared_ptr<PlatformLog> log) : log_(std::move(log)) {}

    bool startupSucceeds = true;
    bool handleAvailable = true;
    EchoScript echo;
    std::map<std::string, Ipv4Value> hosts;

    bool startup() noexcept override {
        ++log_->startups;
        return startupSucceeds;
    }
    void cleanup() noexcept override { ++log_->cleanups; }

    std::unique_ptr<EchoHandle> openEcho() noexcept override {
        ++log_->opens;
        if (!handleAvailable) {
            return nullptr;
        }
        return std::make_unique<Handle>(log_, echo);
    }

    std::optional<Ipv4Value> resolveFirstIpv4(const std::string& name,
                                              std::uint32_t wait) noexcept override {
        log_->lookups.push_back(name);
        log_->lookupWaits.push_back(wait);
        const auto found = hosts.find(name);
        if (found == hosts.end()) {
            return std::nullopt;
        }
        return found->second;
    }

    std::string addressToText(Ipv4Value address) noexcept override {
        const auto o = ipv4Octets(address);
        return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) +
               "." + std::to_string(o[3]);
    }

  private:
    class Handle final : public EchoHandle {
      public:
        Handle(std::shared_ptr<PlatformLog> log, EchoScript script)
            : log_(std::move(log)), script_(script) {}
        ~Handle() override { ++log_->closes; }

        std::uint32_t sendEcho(Ipv4Value destination, std::span<const std::uint8_t> data,
                               std::uint32_t wait, EchoReplyRecord& reply) noexcept override {
            {
                const std::lock_guard lock(log_->mutex);
                log_->echoes.push_back({destination, {data.begin(), data.end()}, wait});
                log_->mostEchoesAtOnce = std::max(log_->mostEchoesAtOnce, ++log_->echoesInProgress);
            }
            std::this_thread::sleep_for(script_.delay);
            const std::lock_guard lock(log_->mutex);
            --log_->echoesInProgress;
            reply.setStatus(script_.status);
            reply.setRoundTripTime(script_.roundTrip);
            return script_.count;
        }

      private:
        std::shared_ptr<PlatformLog> log_;
        EchoScript script_;
    };

    std::shared_ptr<PlatformLog> log_;
};

} // namespace tarnvik::testing
