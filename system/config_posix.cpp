// SPDX-License-Identifier: MIT
#include "system.h"

#include <algorithm>
#include <cstdlib>

namespace tarnvik::os {

namespace {

constexpr std::size_t kMostConfigBytes = 64 * 1024;

// An XDG variable's directory, when it names an absolute one (the rules ignore relative ones).
std::filesystem::path absoluteDirectory(const std::string& text) {
    const std::filesystem::path directory(text);
    return directory.is_absolute() ? directory : std::filesystem::path();
}

void addLayer(std::vector<ConfigLayer>& layers, const std::filesystem::path& directory,
              bool system) {
    if (directory.empty()) {
        return;
    }
    const auto file = directory / "tarnvik" / "tarnvik.conf";
    if (const auto text = readSmallFile(file, kMostConfigBytes)) {
        layers.push_back(parseConfigFile(pathText(file), *text, system));
    }
}

} // namespace

std::vector<ConfigLayer> configurationLayers() {
    std::vector<ConfigLayer> layers;
    // $XDG_CONFIG_DIRS lists the most important first: it is read last.
    const char* dirs = std::getenv("XDG_CONFIG_DIRS");
    const std::string list = dirs && *dirs ? dirs : "/etc/xdg";
    std::vector<std::filesystem::path> systemDirectories;
    for (std::size_t from = 0; from <= list.size();) {
        const auto colon = std::min(list.find(':', from), list.size());
        systemDirectories.push_back(absoluteDirectory(list.substr(from, colon - from)));
        from = colon + 1;
    }
    std::for_each(systemDirectories.rbegin(), systemDirectories.rend(),
                  [&](const auto& directory) { addLayer(layers, directory, true); });
    const char* home = std::getenv("XDG_CONFIG_HOME");
    const char* user = std::getenv("HOME");
    addLayer(layers,
             home && *home   ? absoluteDirectory(home)
             : user && *user ? absoluteDirectory(user) / ".config"
                             : std::filesystem::path(),
             false);
    return layers;
}

} // namespace tarnvik::os
