// SPDX-License-Identifier: MIT
#include "holds.h"
#include "evidence.h"
#include "ip_text.h"

#include <vector>

namespace tarnvik {

namespace {

constexpr const char* kRecordPrefix = "hold-";
constexpr std::size_t kRecordLimit = 256;

} // namespace

std::string holdRecordText(const HoldRecord& record) {
    return record.owner + '\n' + hopAddress(record.held) + '\n' +
           std::to_string(record.held.interfaceIndex) + '\n' + record.held.linkAddress + '\n';
}

std::optional<HoldRecord> parseHoldRecord(const std::string& text) {
    // Four lines, each ended by LF (string streams would bring every locale facet into the
    // Windows executable).
    const std::string whole = text.empty() || text.back() == '\n' ? text : text + '\n';
    std::string lines[4];
    std::size_t at = 0;
    for (auto& line : lines) {
        const auto end = whole.find('\n', at);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        line = whole.substr(at, end - at);
        at = end + 1;
    }
    const auto& [owner, address, index, link] = lines;
    const auto hop = parseDottedIpv4(address);
    // Only the canonical form of an IPv4 address goes to a command; an IPv6 one only as a
    // link-local address in lower-case hex (the helper reads it strictly).
    const bool ipv6 = address.size() <= 39 && address.rfind("fe80:", 0) == 0 &&
                      address.find_first_not_of("0123456789abcdef:") == std::string::npos;
    if (!(ipv6 || (hop && *hop != 0 && dottedText(*hop) == address)) || index.empty() ||
        index.size() > 9 || index.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    HoldRecord record;
    record.owner = owner;
    record.held.nextHop = ipv6 ? 0 : *hop;
    record.held.ipv6 = ipv6 ? address : "";
    record.held.interfaceIndex = std::stoi(index);
    record.held.linkAddress = link;
    record.held.state = "PERMANENT";
    return record;
}

HoldRecords::HoldRecords(std::filesystem::path directory, bool ownerOnly, std::string kind)
    : directory_(std::move(directory)), ownerOnly_(ownerOnly), owner_(os::processToken()),
      kind_(std::move(kind)) {}

std::filesystem::path HoldRecords::mine() const {
    std::string name = owner_;
    for (char& c : name) {
        c = c == ' ' ? '-' : c;
    }
    return directory_ / (kRecordPrefix + name + kind_);
}

int HoldRecords::write(const NeighbourReading& held) {
    if (directory_.empty()) {
        return 0;
    }
    if (const int error = os::createPrivateDirectories(directory_)) {
        return error;
    }
    return os::replaceFile(mine(), holdRecordText({owner_, held}), ownerOnly_);
}

void HoldRecords::erase() {
    if (!directory_.empty()) {
        (void)os::removeFile(mine());
    }
}

void HoldRecords::releaseAbandoned(const Release& release,
                                   const std::function<void(const std::string&)>& report) {
    if (directory_.empty()) {
        return;
    }
    // Another's directory, or a link in place of ours: nothing in it is read or removed.
    if (const int error = os::createPrivateDirectories(directory_)) {
        report("cannot use " + os::pathText(directory_) +
               " for the holds' records: " + os::errorText(error));
        return;
    }
    struct Found {
        std::filesystem::path file;
        HoldRecord record;
        bool running;
    };
    std::vector<Found> found;
    for (const auto& file : os::filesIn(directory_)) {
        if (file.filename().string().rfind(kRecordPrefix, 0) != 0) {
            continue;
        }
        const auto text = os::readSmallFile(file, kRecordLimit);
        if (const auto record = text ? parseHoldRecord(*text) : std::nullopt) {
            found.push_back({file, *record, os::processRunning(record->owner)});
        }
    }
    for (const auto& [file, record, running] : found) {
        if (running) {
            continue;
        }
        bool heldByALiveCopy = false;
        for (const auto& other : found) {
            heldByALiveCopy = heldByALiveCopy ||
                              (other.running && hopText(other.record.held) == hopText(record.held));
        }
        const auto outcome = heldByALiveCopy ? os::RunOutcome{} : release(record.held);
        if (!outcome.succeeded()) {
            report("cannot release the hold of " + hopText(record.held) +
                   " that an earlier run left: " + os::outcomeText(outcome));
            continue;
        }
        (void)os::removeFile(file);
    }
}

} // namespace tarnvik
