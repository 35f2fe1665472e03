// What the program says on standard error at start when it cannot do its whole job: no echo
// socket at all, or a repair that cannot flush the ARP cache.
#pragma once

#include "platform.h"

#include <filesystem>
#include <string>
#include <vector>

namespace tarnvik {

struct StartupFacts {
    EchoSocketKind echoSocket = EchoSocketKind::None;
    bool privileged = false;
    std::filesystem::path helper;
    bool helperPresent = false;
    bool helperCapable = false;
};

StartupFacts systemStartupFacts();

// One line per problem, each with its remedy; none when all is well.
std::vector<std::string> startupDiagnostics(const StartupFacts& facts);

} // namespace tarnvik
