// SPDX-License-Identifier: MIT
#include "diagnostics.h"
#include "texts.h"

#include <algorithm>

namespace tarnvik {

std::vector<Words> startupDiagnostics(const StartupFacts& facts) {
    std::vector<Words> lines;
    if (facts.echoSocket == EchoSocketKind::None) {
        // Never a capability for the window: the ping socket is the unprivileged way.
        lines.push_back({texts::kNoEchoSocket});
    }
    if (!facts.privileged) {
        if (!facts.helperPresent) {
            lines.push_back({texts::kNoFlushHelper, {facts.helper.string()}});
        } else if (!facts.helperCapable) {
            lines.push_back({texts::kFlushHelperIncapable, {facts.helper.string()}});
        }
    }
    return lines;
}

std::size_t utf8SequenceLength(unsigned char lead) {
    if (lead >= 0xF0) {
        return 4;
    }
    if (lead >= 0xE0) {
        return 3;
    }
    return lead >= 0xC0 ? 2 : 1;
}

std::string printableExcerpt(std::string_view text, std::size_t limit) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const std::size_t length = std::min(utf8SequenceLength(byte), text.size() - at);
        if (out.size() + length > limit) {
            return out + "...";
        }
        const bool c1 =
            byte == 0xC2 && length == 2 && static_cast<unsigned char>(text[at + 1]) < 0xA0;
        if (byte < 0x20 || byte == 0x7F || c1) {
            out += '?';
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

} // namespace tarnvik
