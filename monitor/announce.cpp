// SPDX-License-Identifier: MIT
#include "announce.h"
#include "ip_text.h"

#include <utility>

namespace tarnvik {

Announcer::Announcer(AnnounceSettings settings, std::function<void(const EvidenceRecord&)> record,
                     std::function<void(const std::string&)> failed)
    : settings_(std::move(settings)), record_(std::move(record)), failed_(std::move(failed)) {}

void Announcer::sign(const NeighbourReading& genuine, const std::string& probed) {
    if (!settings_.send || genuine.linkAddress.empty()) {
        return;
    }
    lastSign_ = settings_.now();
    if (genuine_ && hopText(*genuine_) == hopText(genuine) &&
        genuine_->linkAddress == genuine.linkAddress) {
        return;
    }
    if (genuine_) {
        end(); // another next hop, or its genuine address moved: a new episode
    }
    genuine_ = genuine;
    probed_ = probed;
    own_ = settings_.ownLinkAddress ? settings_.ownLinkAddress(genuine.interfaceIndex) : "";
    failureSaid_ = false;
    NeighbourReading told = genuine;
    told.linkAddress = own_;
    told.state = "started";
    record_({probed_, genuine, told, Verdict::announced, std::nullopt});
}

bool Announcer::tick() {
    if (!genuine_) {
        return false;
    }
    if (sending_.valid()) {
        if (sending_.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
            return true; // the last one is still on its way: never two at once
        }
        if (const auto outcome = sending_.get(); !outcome.succeeded() && !failureSaid_) {
            failureSaid_ = true;
            failed_("cannot tell " + hopText(*genuine_) +
                    " our address: " + os::outcomeText(outcome));
        }
    }
    if (!held_ && settings_.now() - lastSign_ > kAnnounceAfterLastSign) {
        end();
        return false;
    }
    sending_ = std::async(settings_.background, settings_.send, *genuine_);
    return true;
}

void Announcer::stop() {
    if (genuine_) {
        end();
    }
}

void Announcer::end() {
    if (sending_.valid()) {
        sending_.wait();
        sending_ = {};
    }
    NeighbourReading told = *genuine_;
    told.linkAddress = own_;
    told.state = "ended";
    record_({probed_, *genuine_, told, Verdict::announced, std::nullopt});
    genuine_.reset();
}

} // namespace tarnvik
