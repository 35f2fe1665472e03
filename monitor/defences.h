// SPDX-License-Identifier: MIT
// Every neighbour defended while monitoring runs, as one list: the next hop and each IPv6 router
// have a Defence each (defence.h), made at their first sight and driven alike. After Stop they
// wind down off the window's thread (releases, a last send), taken in by the short timer.
#pragma once

#include "defence.h"
#include "evidence.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnvik {

class Defences {
  public:
    // Holds of copies that no longer run are released first, so that the flush lets their
    // neighbours' addresses be learnt afresh; a copy that still runs keeps its own.
    explicit Defences(DefenceSettings settings);
    Defences(const Defences&) = delete;
    Defences& operator=(const Defences&) = delete;
    // Stops what is left and joins it: at most kHelperDeadline.
    ~Defences();

    // A hold of that family (IPv6: a router's) is due or on its way: its flush waits for it.
    bool holdDue(const std::vector<DefendedNeighbour>& neighbours, bool ipv6);
    // Each neighbour's defence for this moment: its announcements, its question's answer (handed
    // to `answered`, which says whether it proved an attack, repaired then by `repair`), its next
    // question and its hold. `fromTick`: a tick passed.
    void step(const std::vector<DefendedNeighbour>& neighbours, bool fromTick,
              const std::function<bool(const std::string& key, const Reply&)>& answered,
              const std::function<void(bool ipv6)>& repair);
    // Monitoring stops: every defence winds down; nothing waits.
    void stop();
    // The short timer: announcements, and what the stopped defences have finished.
    void tick();
    // Announcing, or winding down: the short timer is wanted.
    bool busy() const;

  private:
    Defence& of(const DefendedNeighbour& neighbour);
    void windDown();

    DefenceSettings settings_;
    std::vector<std::unique_ptr<Defence>> active_, stopping_;
};

} // namespace tarnvik
