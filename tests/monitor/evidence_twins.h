// SPDX-License-Identifier: MIT
// Whether a line of arp_evidence.log and a line of arp_evidence.jsonl are the same record: every
// field of the one in the other ("-" is null, ",route-lost" is route_lost).
#pragma once

#include <nlohmann/json.hpp>

#include <sstream>
#include <string>
#include <vector>

namespace tarnvik::testing {

// Empty when they are twins, else what differs.
inline std::string twinMismatch(const std::string& logLine, const std::string& jsonLine) {
    std::vector<std::string> fields;
    std::istringstream split(logLine);
    for (std::string field; std::getline(split, field, '\t');) {
        fields.push_back(field);
    }
    if (fields.size() != 8) {
        return "not an evidence line: " + logLine;
    }
    const auto json = nlohmann::json::parse(jsonLine, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        return "not a JSON object: " + jsonLine;
    }
    std::string state = fields[5];
    const bool routeLost = state.ends_with(",route-lost");
    if (routeLost) {
        state.resize(state.size() - 11);
    }
    const std::pair<const char*, std::string> expected[] = {
        {"time", fields[0]},         {"probed", fields[1]},     {"next_hop", fields[2]},
        {"baseline_mac", fields[3]}, {"mac_now", fields[4]},    {"state", state},
        {"verdict", fields[6]},      {"attacker_ip", fields[7]}};
    std::string differs;
    for (const auto& [name, value] : expected) {
        const auto found = json.find(name);
        const std::string got = found == json.end()  ? "(absent)"
                                : found->is_null()   ? "-"
                                : found->is_string() ? found->get<std::string>()
                                                     : found->dump();
        if (got != value) {
            differs += std::string(name) + ": " + got + " against " + value + "; ";
        }
    }
    if (json.value("route_lost", false) != routeLost) {
        differs += "route_lost; ";
    }
    for (const char* identity : {"host", "user", "program", "version"}) {
        if (!json.contains(identity)) {
            differs += std::string("no ") + identity + "; ";
        }
    }
    return differs;
}

} // namespace tarnvik::testing
