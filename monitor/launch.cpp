// SPDX-License-Identifier: MIT
#include "launch.h"
#include "cping.h"
#include "diagnostics.h"
#include "ip_text.h"

#include <algorithm>

namespace tarnvik {

namespace {

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

std::optional<bool> truth(std::string_view value) {
    std::string lower(value);
    for (auto& c : lower) {
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c | 0x20 : c);
    }
    constexpr std::string_view kWords[] = {"false", "true", "no", "yes", "off", "on", "0", "1"};
    for (std::size_t i = 0; i < std::size(kWords); ++i) {
        if (lower == kWords[i]) {
            return i % 2 == 1;
        }
    }
    return std::nullopt;
}

// Text made of parts at once: the many messages here cost the one executable little code.
std::string joined(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const auto part : parts) {
        text += part;
    }
    return text;
}

} // namespace

int configKey(std::string_view name) {
    return static_cast<int>(
        std::find(std::begin(kConfigurationKeys), std::end(kConfigurationKeys), name) -
        std::begin(kConfigurationKeys));
}

ConfigLayer parseConfigFile(std::string origin, std::string_view text, bool system) {
    ConfigLayer layer{std::move(origin), {}, {}, system, {}};
    layer.locked.fill(false);
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    bool ours = true; // keys before any section, and in [General]
    int number = 0;
    for (std::size_t from = 0; from < text.size();) {
        const auto end = std::min(text.find('\n', from), text.size());
        const auto line = trimmed(text.substr(from, end - from));
        from = end + 1;
        ++number;
        const auto where = joined({layer.origin, ":", std::to_string(number), ": "});
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            ours = line == "[General]";
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            layer.problems.push_back(
                joined({where, "not a key = value line: ", printableExcerpt(std::string(line))}));
            continue;
        }
        const std::string key(trimmed(line.substr(0, equals)));
        const std::string value(trimmed(line.substr(equals + 1)));
        if (!ours) {
            continue;
        }
        if (key == "locked" && system) {
            for (std::size_t at = 0; at <= value.size();) {
                const auto comma = std::min(value.find(',', at), value.size());
                const std::string name(trimmed(std::string_view(value).substr(at, comma - at)));
                if (configKey(name) < kConfigKeys) {
                    layer.locked[static_cast<std::size_t>(configKey(name))] = true;
                } else if (!name.empty()) {
                    layer.problems.push_back(
                        joined({where, "locked names no key: ", printableExcerpt(name)}));
                }
                at = comma + 1;
            }
        } else if (configKey(key) < kConfigKeys) {
            layer.values[static_cast<std::size_t>(configKey(key))] = value;
        } else {
            layer.problems.push_back(joined({where, "no such key: ", printableExcerpt(key)}));
        }
    }
    return layer;
}

TargetForm targetForm(std::string_view text) {
    text = trimmed(text);
    if (text.empty()) {
        return TargetForm::none;
    }
    if (probeTargetAddress(text)) {
        return TargetForm::address;
    }
    if (webStyleAddress(text)) {
        return TargetForm::hostName;
    }
    // A host name as the resolver takes it: labels of letters, digits and hyphens. All digits
    // and dots is a mistyped address, not a name.
    const bool nameCharacters = std::all_of(text.begin(), text.end(), [](unsigned char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '-' || c == '.' || c >= 0x80;
    });
    const bool numeric = text.find_first_not_of("0123456789.") == std::string_view::npos;
    return nameCharacters && !numeric && text.front() != '.' && text.front() != '-'
               ? TargetForm::hostName
               : TargetForm::none;
}

Launch resolveLaunch(const Options& options, const std::vector<ConfigLayer>& layers) {
    Launch launch;
    std::array<std::optional<std::string>, kConfigKeys> values;
    std::array<std::string, kConfigKeys> originOf, lockedBy;
    for (const auto& layer : layers) {
        launch.problems.insert(launch.problems.end(), layer.problems.begin(), layer.problems.end());
        for (std::size_t key = 0; key < kConfigKeys; ++key) {
            if (!layer.values[key]) {
                continue;
            }
            if (!lockedBy[key].empty()) {
                launch.problems.push_back(
                    joined({layer.origin, ": ", kConfigurationKeys[key], " is locked by ",
                            lockedBy[key], "; its value there stays"}));
                continue;
            }
            // A bad value is ignored as if it were not there: a less important file's stays.
            const auto& value = *layer.values[key];
            const bool good = key == kTargetKey ? targetForm(value) != TargetForm::none
                                                : truth(value).has_value();
            if (!good) {
                launch.problems.push_back(joined(
                    {layer.origin, ": ", kConfigurationKeys[key], " = ", printableExcerpt(value),
                     key == kTargetKey ? " is neither an IPv4 address nor a host name; ignored"
                                       : " is neither true nor false; ignored"}));
                continue;
            }
            values[key] = value;
            originOf[key] = layer.origin;
        }
        for (std::size_t key = 0; key < kConfigKeys; ++key) {
            if (layer.system && layer.locked[key] && lockedBy[key].empty()) {
                lockedBy[key] = layer.origin;
            }
        }
    }
    const auto flag = [&](std::size_t key) { return values[key] && *truth(*values[key]); };
    const bool start = flag(kStartKey);
    launch.guard = flag(kGuardKey);
    if (options.guard) {
        if (!lockedBy[kGuardKey].empty() && !launch.guard) {
            launch.problems.push_back(
                joined({"--guard: guard is locked by ", lockedBy[kGuardKey], "; ignored"}));
        } else {
            launch.guard = true;
        }
    }
    if (values[kTargetKey]) {
        launch.target = values[kTargetKey];
        launch.start = start;
    } else if (start) {
        launch.problems.push_back(
            joined({originOf[kStartKey], ": start = ", printableExcerpt(*values[kStartKey]),
                    " names no target; ignored"}));
    }
    if (options.start) {
        if (!lockedBy[kTargetKey].empty() && launch.target != options.start) {
            launch.problems.push_back(
                joined({"--start: target is locked by ", lockedBy[kTargetKey], "; ignored"}));
        } else {
            launch.target = options.start;
            launch.start = true;
        }
    }
    return launch;
}

} // namespace tarnvik
