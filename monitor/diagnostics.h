// SPDX-License-Identifier: MIT
// What the Linux program says at start when it cannot do its whole job (no echo socket at all, or
// a repair that cannot flush the ARP cache), and reports made safe to quote typed text.
#pragma once

#include "platform.h"
#include "texts.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace tarnvik {

struct StartupFacts {
    EchoSocketKind echoSocket = EchoSocketKind::None;
    bool privileged = false;
    std::filesystem::path helper;
    bool helperPresent = false;
    bool helperCapable = false;
};

// One line per problem, each with its remedy; none when all is well.
std::vector<Words> startupDiagnostics(const StartupFacts& facts);

// Operator-typed text made safe to quote in a report on a terminal: control characters (C0, DEL,
// C1) become '?', and text beyond `limit` bytes is cut at a character boundary and marked "...".
std::string printableExcerpt(std::string_view text, std::size_t limit = 80);

// Bytes of the UTF-8 sequence that `lead` starts (1 for ASCII and for a stray continuation byte).
std::size_t utf8SequenceLength(unsigned char lead);

} // namespace tarnvik
