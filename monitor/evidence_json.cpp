// SPDX-License-Identifier: MIT
// A record as a collector reads it: one JSON object a line, the desk's identity first.
#include "evidence.h"

namespace tarnvik {

namespace {

// The length of the UTF-8 sequence at `at`, or 0 where the bytes are no valid one (an overlong
// form, a surrogate, beyond U+10FFFF, or cut short).
std::size_t sequenceLength(std::string_view text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    const std::size_t length = lead < 0x80   ? 1
                               : lead < 0xc2 ? 0
                               : lead < 0xe0 ? 2
                               : lead < 0xf0 ? 3
                               : lead < 0xf5 ? 4
                                             : 0;
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xc0) != 0x80) {
            return 0;
        }
    }
    const unsigned char second = length > 1 ? byte(at + 1) : 0;
    if ((lead == 0xe0 && second < 0xa0) || (lead == 0xed && second >= 0xa0) ||
        (lead == 0xf0 && second < 0x90) || (lead == 0xf4 && second >= 0x90)) {
        return 0;
    }
    return length;
}

std::string field(const char* name, const std::optional<std::string>& value) {
    return std::string(",\"") + name + "\":" + (value ? jsonString(*value) : "null");
}

std::optional<std::string> unlessEmpty(const std::string& text) {
    return text.empty() ? std::nullopt : std::optional(text);
}

} // namespace

std::string jsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        const std::size_t length = sequenceLength(text, at);
        if (length == 0) {
            out += "\\ufffd"; // a byte of no character: the line stays valid JSON
            ++at;
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c < 0x20 || c == 0x7f) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out + '"';
}

std::string evidenceJson(const std::string& isoTime, const EvidenceRecord& record,
                         const Desk& desk) {
    const bool local = record.now.local;
    const bool router = !record.now.ipv6.empty();
    std::string line = "{\"time\":" + jsonString(isoTime);
    line += field("host", desk.host);
    line += field("user", desk.user);
    line += field("interface", unlessEmpty(desk.interface));
    line += field("mac", unlessEmpty(desk.mac));
    line += field("program", "tarnvik");
    line += field("version", TARNVIK_VERSION);
    line += field("family", router ? "ipv6" : "ipv4");
    line += field("probed", record.probed);
    line += field("next_hop", local ? std::nullopt : std::optional(hopText(record.now)));
    line += field("baseline_mac",
                  record.baseline ? unlessEmpty(record.baseline->linkAddress) : std::nullopt);
    line += field("mac_now", unlessEmpty(record.now.linkAddress));
    line += field("state", local ? std::nullopt : std::optional(record.now.state));
    line += field("verdict", verdictName(record.verdict));
    line += field("attacker_ip", record.attacker);
    if (router) {
        line += field("router", record.now.ipv6);
        line += std::string(",\"route_lost\":") + (record.routeLost ? "true" : "false");
    }
    return line + "}\n";
}

} // namespace tarnvik
