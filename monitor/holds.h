// SPDX-License-Identifier: MIT
// What each running copy holds, recorded in a file of its own for each kind of hold (owner,
// address, interface, link-layer address; the next hop's and an IPv6 router's), so that a later
// start releases the holds of a copy that was killed and leaves those of a copy that still runs (a
// second window, a second user) alone.
#pragma once

#include "neighbour.h"
#include "system.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace tarnvik {

struct HoldRecord {
    std::string owner; // os::processToken() of the copy that holds it
    NeighbourReading held;
};

// The record's text and back; nothing for text that is no record.
std::string holdRecordText(const HoldRecord& record);
std::optional<HoldRecord> parseHoldRecord(const std::string& text);

class HoldRecords {
  public:
    using Release = std::function<os::RunOutcome(const NeighbourReading&)>;

    // `kind` tells this copy's files apart: "" for the next hop's hold, "-router" for a router's.
    HoldRecords(std::filesystem::path directory, bool ownerOnly, std::string kind = "");

    // This copy's record, written before its hold is made; 0 or the error.
    int write(const NeighbourReading& held);
    void erase();
    // Releases every recorded hold whose owner no longer runs, unless a copy that runs holds the
    // same address; a record goes once its hold is released. Each failure reaches `report`.
    void releaseAbandoned(const Release& release,
                          const std::function<void(const std::string&)>& report);

  private:
    std::filesystem::path mine() const;

    std::filesystem::path directory_;
    bool ownerOnly_;
    std::string owner_;
    std::string kind_;
};

} // namespace tarnvik
