// SPDX-License-Identifier: MIT
#include "defences.h"

#include <algorithm>
#include <thread>

namespace tarnvik {

Defences::Defences(DefenceSettings settings) : settings_(std::move(settings)) {
    if (settings_.guard) {
        HoldRecords(settings_.guard->records, settings_.ownerOnly)
            .releaseAbandoned(settings_.guard->release, settings_.reportFailure);
    }
}

Defences::~Defences() {
    stop();
    const auto end = std::chrono::steady_clock::now() + kHelperDeadline;
    while (!stopping_.empty() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        windDown();
    }
}

Defence& Defences::of(const DefendedNeighbour& neighbour) {
    for (const auto& defence : active_) {
        if (defence->key() == neighbour.key) {
            return *defence;
        }
    }
    // Each router's hold has a record of its own beside the next hop's.
    std::string kind;
    if (!neighbour.genuine->ipv6.empty()) {
        kind = "-router-" + std::to_string(neighbour.genuine->interfaceIndex) + "-" +
               hopAddress(*neighbour.genuine);
        std::replace(kind.begin(), kind.end(), ':', '.');
    }
    active_.push_back(std::make_unique<Defence>(settings_, neighbour.key, kind));
    return *active_.back();
}

bool Defences::holdDue(const std::vector<DefendedNeighbour>& neighbours, bool ipv6) {
    return std::any_of(neighbours.begin(), neighbours.end(), [&](const auto& neighbour) {
        return neighbour.genuine->ipv6.empty() != ipv6 && of(neighbour).holdDue(neighbour);
    });
}

void Defences::step(const std::vector<DefendedNeighbour>& neighbours, bool fromTick,
                    const std::function<bool(const std::string&, const Reply&)>& answered,
                    const std::function<void(bool ipv6)>& repair) {
    for (const auto& neighbour : neighbours) {
        auto& defence = of(neighbour);
        defence.sign(neighbour, neighbour.watch->attackedThisTick());
        if (const auto reply = defence.collect(); reply && answered(neighbour.key, *reply)) {
            repair(!neighbour.genuine->ipv6.empty());
        }
        defence.ask(neighbour);
        defence.guard(neighbour, fromTick);
    }
    // A neighbour no longer watched (another next hop now) has its answer dropped.
    for (const auto& defence : active_) {
        if (std::none_of(neighbours.begin(), neighbours.end(),
                         [&](const auto& n) { return n.key == defence->key(); })) {
            (void)defence->collect();
        }
    }
}

// A deferred helper, as tests run them, is done within the first passes.
void Defences::stop() {
    for (auto& defence : active_) {
        stopping_.push_back(std::move(defence));
    }
    active_.clear();
    for (int pass = 0; pass < 3 && !stopping_.empty(); ++pass) {
        windDown();
    }
}

void Defences::windDown() {
    std::erase_if(stopping_, [](const auto& defence) { return defence->windDown(); });
}

void Defences::tick() {
    windDown();
    for (const auto& defence : active_) {
        (void)defence->announceTick();
    }
}

bool Defences::busy() const {
    return !stopping_.empty() || std::any_of(active_.begin(), active_.end(),
                                             [](const auto& d) { return d->announcing(); });
}

} // namespace tarnvik
