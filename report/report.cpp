// SPDX-License-Identifier: MIT
#include "report.h"

#include <simdjson.h>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace tarnvik::report {

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

// Text a terminal or a CSV cell shows as it is: control bytes as \xNN, and at most 200 bytes.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text.substr(0, 200)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return text.size() > 200 ? out + "..." : out;
}

std::string joined(const std::set<std::string>& items, const char* separator) {
    std::string out;
    for (const auto& item : items) {
        out += (out.empty() ? "" : separator) + printable(item);
    }
    return out;
}

std::string jsonText(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + '"';
}

std::string quotedList(const std::set<std::string>& items) {
    std::string out = "[";
    for (const auto& item : items) {
        out += (out.size() > 1 ? "," : "") + jsonText(item);
    }
    return out + "]";
}

} // namespace

std::optional<Seconds> parseTime(std::string_view text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
    const std::string copy(text.substr(0, 64));
    if (std::sscanf(copy.c_str(), "%4d-%2d-%2d%*1[Tt ]%2d:%2d:%2d%n", &year, &month, &day, &hour,
                    &minute, &second, &consumed) != 6 ||
        consumed != 19 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 ||
        minute > 59 || second > 60) {
        return std::nullopt;
    }
    std::string_view rest = text.substr(19);
    if (rest.starts_with('.')) {
        rest.remove_prefix(1);
        const auto digits = rest.find_first_not_of("0123456789");
        if (digits == 0) {
            return std::nullopt;
        }
        rest.remove_prefix(std::min(digits, rest.size()));
    }
    Seconds offset = 0;
    if (rest == "Z" || rest == "z") {
        offset = 0;
    } else if (rest.size() == 6 && (rest[0] == '+' || rest[0] == '-') && rest[3] == ':') {
        int hours = 0, minutes = 0;
        if (std::sscanf(std::string(rest.substr(1)).c_str(), "%2d:%2d", &hours, &minutes) != 2 ||
            hours > 23 || minutes > 59) {
            return std::nullopt;
        }
        offset = (rest[0] == '-' ? -1 : 1) * (hours * 3600 + minutes * 60);
    } else {
        return std::nullopt;
    }
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
           hour * 3600 + minute * 60 + second - offset;
}

struct Report::Parser {
    simdjson::ondemand::parser parser{kLongestRecord};
    std::string buffer; // the line with the padding the parser reads beyond it
};

Report::Report(std::optional<Seconds> since) : parser_(std::make_unique<Parser>()), since_(since) {}

Report::~Report() = default;

void Report::add(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    if (line.find_first_not_of(" \t") == std::string_view::npos) {
        return;
    }
    auto& buffer = parser_->buffer;
    // One object alone: what follows its end would go unread.
    const auto last = line.find_last_not_of(" \t");
    if (line.size() > kLongestRecord || line[line.find_first_not_of(" \t")] != '{' ||
        line[last] != '}') {
        ++unreadable_;
        return;
    }
    buffer.assign(line);
    buffer.append(simdjson::SIMDJSON_PADDING, ' ');
    // Every field is read as text, in the order of the document; absent or null is empty.
    std::string_view fields[7]; // time host verdict next_hop mac_now probed baseline_mac
    static constexpr std::string_view kNames[] = {"time",    "host",   "verdict",     "next_hop",
                                                  "mac_now", "probed", "baseline_mac"};
    simdjson::ondemand::document document;
    simdjson::ondemand::object object;
    if (parser_->parser.iterate(buffer.data(), line.size(), buffer.size()).get(document) ||
        document.get_object().get(object)) {
        ++unreadable_;
        return;
    }
    std::vector<std::string> values(std::size(kNames));
    for (auto field : object) {
        std::string_view key;
        if (field.unescaped_key().get(key)) {
            ++unreadable_;
            return;
        }
        const auto name = std::find(std::begin(kNames), std::end(kNames), key);
        if (name == std::end(kNames)) {
            continue; // skipped unread
        }
        // Every result is taken as an error code: the library throws for one read as a value.
        simdjson::ondemand::value value;
        bool null = false;
        std::string_view text;
        if (field.value().get(value) || value.is_null().get(null) ||
            (!null && value.get_string().get(text))) {
            ++unreadable_;
            return;
        }
        values[static_cast<std::size_t>(name - std::begin(kNames))] = std::string(text);
    }
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
        fields[i] = values[i];
    }
    const auto when = parseTime(fields[0]);
    if (!when || fields[1].empty() || fields[2].empty()) {
        ++unreadable_;
        return;
    }
    ++records_;
    if (since_ && *when < *since_) {
        return;
    }
    const Stamp stamp{*when, std::string(fields[0])};
    const std::string desk(fields[1]);
    const std::string_view verdict = fields[2];
    const std::string hop(fields[3]);
    if ((verdict == "changed" || verdict == "new-router") && !fields[4].empty()) {
        auto& attack = attacks_[std::string(fields[4])];
        auto& campaign = attack.campaign;
        if (campaign.attacker.empty()) {
            campaign.attacker = fields[4];
            campaign.first = stamp;
        }
        if (stamp.seconds < campaign.first.seconds) {
            campaign.first = stamp;
        }
        if (stamp.seconds >= campaign.last.seconds || campaign.last.text.empty()) {
            campaign.last = stamp;
        }
        if (!hop.empty()) {
            campaign.impersonated.insert(hop);
        }
        campaign.desks.insert(desk);
        auto [first, added] = attack.firstOnDesk.emplace(desk, stamp.seconds);
        if (!added) {
            first->second = std::min(first->second, stamp.seconds);
        }
    } else if (verdict == "held") {
        auto& latest = holds_[{desk, hop}];
        latest = std::max(latest, stamp.seconds);
    } else if (verdict == "moved") {
        moves_.push_back({desk, hop, std::string(fields[6]), std::string(fields[4]), stamp});
    } else if (verdict == "unchanged" || verdict == "unresolved") {
        auto& target = unanswered_[{desk, std::string(fields[5])}];
        if (target.desk.empty()) {
            target.desk = desk;
            target.probed = fields[5];
        }
        ++target.failures;
        if (stamp.seconds >= target.last.seconds || target.last.text.empty()) {
            target.last = stamp;
        }
    }
}

std::vector<Campaign> Report::campaigns(Seconds now) const {
    std::vector<Campaign> out;
    for (const auto& [attacker, attack] : attacks_) {
        Campaign campaign = attack.campaign;
        for (const auto& [desk, since] : attack.firstOnDesk) {
            for (const auto& hop : campaign.impersonated) {
                const auto hold = holds_.find({desk, hop});
                if (hold != holds_.end() && hold->second >= since) {
                    campaign.heldBy.insert(desk);
                }
            }
        }
        campaign.going = campaign.last.seconds >= now - kStillGoing;
        out.push_back(std::move(campaign));
    }
    std::sort(out.begin(), out.end(), [](const Campaign& a, const Campaign& b) {
        return a.desks.size() != b.desks.size() ? a.desks.size() > b.desks.size()
                                                : a.first.seconds < b.first.seconds;
    });
    return out;
}

std::vector<Unanswered> Report::unanswered() const {
    std::vector<Unanswered> out;
    for (const auto& [key, target] : unanswered_) {
        out.push_back(target);
    }
    return out;
}

std::string table(const Report& report, Seconds now) {
    std::string out = "Attacks (one row per attacker's link-layer address):\n";
    const auto campaigns = report.campaigns(now);
    if (campaigns.empty()) {
        out += "  none\n";
    }
    for (const auto& c : campaigns) {
        out += "  " + printable(c.attacker) + " as " + joined(c.impersonated, ", ") + ": " +
               std::to_string(c.desks.size()) + " desk" + (c.desks.size() == 1 ? "" : "s") +
               ", held by " + std::to_string(c.heldBy.size()) + ", first " +
               printable(c.first.text) + ", last " + printable(c.last.text) +
               (c.going ? ", STILL GOING" : ", over") + "\n    desks: " + joined(c.desks, " ") +
               "\n";
    }
    out += "Moves (a neighbour's address replaced, proven or taken after a long absence):\n";
    if (report.moves().empty()) {
        out += "  none\n";
    }
    for (const auto& m : report.moves()) {
        out += "  " + printable(m.time.text) + " " + printable(m.desk) + ": " +
               printable(m.nextHop) + " " + printable(m.from) + " > " + printable(m.to) + "\n";
    }
    out += "Unanswered targets (failed probes with no attack), by desk:\n";
    const auto unanswered = report.unanswered();
    if (unanswered.empty()) {
        out += "  none\n";
    }
    for (const auto& u : unanswered) {
        out += "  " + printable(u.desk) + ": " + printable(u.probed) + ", " +
               std::to_string(u.failures) + " failed, last " + printable(u.last.text) + "\n";
    }
    return out + std::to_string(report.records()) + " records, " +
           std::to_string(report.unreadable()) + " unreadable lines skipped\n";
}

std::string json(const Report& report, Seconds now) {
    std::string out = "{\"attacks\":[";
    bool first = true;
    for (const auto& c : report.campaigns(now)) {
        out += std::string(first ? "" : ",") + "{\"attacker\":" + jsonText(c.attacker) +
               ",\"impersonated\":" + quotedList(c.impersonated) +
               ",\"desks\":" + quotedList(c.desks) +
               ",\"desk_count\":" + std::to_string(c.desks.size()) +
               ",\"held\":" + std::to_string(c.heldBy.size()) +
               ",\"held_by\":" + quotedList(c.heldBy) + ",\"first\":" + jsonText(c.first.text) +
               ",\"last\":" + jsonText(c.last.text) + ",\"going\":" + (c.going ? "true" : "false") +
               "}";
        first = false;
    }
    out += "],\"moves\":[";
    first = true;
    for (const auto& m : report.moves()) {
        out += std::string(first ? "" : ",") + "{\"time\":" + jsonText(m.time.text) +
               ",\"desk\":" + jsonText(m.desk) + ",\"next_hop\":" + jsonText(m.nextHop) +
               ",\"from\":" + jsonText(m.from) + ",\"to\":" + jsonText(m.to) + "}";
        first = false;
    }
    out += "],\"unanswered\":[";
    first = true;
    for (const auto& u : report.unanswered()) {
        out += std::string(first ? "" : ",") + "{\"desk\":" + jsonText(u.desk) +
               ",\"probed\":" + jsonText(u.probed) + ",\"failures\":" + std::to_string(u.failures) +
               ",\"last\":" + jsonText(u.last.text) + "}";
        first = false;
    }
    return out + "],\"records\":" + std::to_string(report.records()) +
           ",\"unreadable\":" + std::to_string(report.unreadable()) + "}\n";
}

std::string csv(const Report& report, Seconds now) {
    const auto cell = [](const std::string& text) {
        std::string out = "\"";
        for (const char c : printable(text)) {
            out += c == '"' ? std::string("\"\"") : std::string(1, c);
        }
        // A cell a spreadsheet would take for a formula is kept as text.
        if (out.size() > 1 && std::string_view("=+-@").find(out[1]) != std::string_view::npos) {
            out.insert(1, "'");
        }
        return out + "\"";
    };
    std::string out = "attacker,impersonated,desk_count,desks,held,first,last,going\n";
    for (const auto& c : report.campaigns(now)) {
        out += cell(c.attacker) + "," + cell(joined(c.impersonated, " ")) + "," +
               std::to_string(c.desks.size()) + "," + cell(joined(c.desks, " ")) + "," +
               std::to_string(c.heldBy.size()) + "," + cell(c.first.text) + "," +
               cell(c.last.text) + "," + (c.going ? "yes" : "no") + "\n";
    }
    return out;
}

} // namespace tarnvik::report
