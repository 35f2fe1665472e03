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
    sent_ = false; // a send still out is the last episode's
    NeighbourReading told = genuine;
    told.linkAddress = own_;
    told.state = "started";
    record_({probed_, genuine, told, Verdict::announced, std::nullopt});
}

bool Announcer::tick() {
    if (sending_.valid() && !genuine_ &&
        sending_.wait_for(std::chrono::seconds(0)) != std::future_status::timeout) {
        sending_.get(); // an ended episode's last
    }
    if (!genuine_) {
        return false;
    }
    if (sending_.valid()) {
        if (sending_.wait_for(std::chrono::seconds(0)) == std::future_status::timeout) {
            return true; // the last one is still on its way: never two at once
        }
        if (const auto outcome = sending_.get(); !outcome.succeeded() && !failureSaid_ && sent_) {
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
    sent_ = true;
    return true;
}

void Announcer::stop() {
    if (genuine_) {
        end();
    }
}

// The send still on its way is not waited for: the next tick (or the end of the Announcer)
// collects it, never the window's thread at Stop.
void Announcer::end() {
    NeighbourReading told = *genuine_;
    told.linkAddress = own_;
    told.state = "ended";
    record_({probed_, *genuine_, told, Verdict::announced, std::nullopt});
    genuine_.reset();
}

} // namespace tarnvik
