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

bool ourKey(std::string_view key) {
    return std::find(std::begin(kConfigurationKeys), std::end(kConfigurationKeys), key) !=
           std::end(kConfigurationKeys);
}

std::optional<bool> truth(std::string_view value) {
    std::string lower(value);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(c | 0x20); });
    if (lower == "true" || lower == "yes" || lower == "on" || lower == "1") {
        return true;
    }
    if (lower == "false" || lower == "no" || lower == "off" || lower == "0") {
        return false;
    }
    return std::nullopt;
}

} // namespace

ConfigLayer parseConfigFile(std::string origin, std::string_view text, bool system) {
    ConfigLayer layer{std::move(origin), {}, {}, system, {}};
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
        const auto where = layer.origin + ":" + std::to_string(number) + ": ";
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
                where + "not a key = value line: " + printableExcerpt(std::string(line)));
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
                if (ourKey(name)) {
                    layer.locked.insert(name);
                } else if (!name.empty()) {
                    layer.problems.push_back(where +
                                             "locked names no key: " + printableExcerpt(name));
                }
                at = comma + 1;
            }
        } else if (ourKey(key)) {
            layer.values[key] = value;
        } else {
            layer.problems.push_back(where + "no such key: " + printableExcerpt(key));
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
    std::map<std::string, std::string> values, originOf;
    std::map<std::string, std::string> lockedBy;
    for (const auto& layer : layers) {
        launch.problems.insert(launch.problems.end(), layer.problems.begin(), layer.problems.end());
        for (const auto& [key, value] : layer.values) {
            if (const auto lock = lockedBy.find(key); lock != lockedBy.end()) {
                launch.problems.push_back(layer.origin + ": " + key + " is locked by " +
                                          lock->second + "; its value there stays");
                continue;
            }
            values[key] = value;
            originOf[key] = layer.origin;
        }
        if (layer.system) {
            for (const auto& key : layer.locked) {
                lockedBy.emplace(key, layer.origin);
            }
        }
    }
    const auto flag = [&](const std::string& key) {
        const auto value = values.find(key);
        if (value == values.end()) {
            return false;
        }
        const auto parsed = truth(value->second);
        if (!parsed) {
            launch.problems.push_back(originOf[key] + ": " + key + " = " +
                                      printableExcerpt(value->second) +
                                      " is neither true nor false; ignored");
        }
        return parsed.value_or(false);
    };
    const bool start = flag("start");
    launch.guard = flag("guard");
    if (options.guard) {
        if (lockedBy.contains("guard") && !launch.guard) {
            launch.problems.push_back("--guard: guard is locked by " + lockedBy["guard"] +
                                      "; ignored");
        } else {
            launch.guard = true;
        }
    }
    if (const auto target = values.find("target"); target != values.end()) {
        if (targetForm(target->second) == TargetForm::none) {
            launch.problems.push_back(originOf["target"] +
                                      ": target = " + printableExcerpt(target->second) +
                                      " is neither an IPv4 address nor a host name; ignored");
        } else {
            launch.target = target->second;
            launch.start = start;
        }
    } else if (start) {
        launch.problems.push_back(originOf["start"] + ": start = true names no target; ignored");
    }
    if (options.start) {
        if (lockedBy.contains("target") && launch.target != options.start) {
            launch.problems.push_back("--start: target is locked by " + lockedBy["target"] +
                                      "; ignored");
        } else {
            launch.target = options.start;
            launch.start = true;
        }
    }
    return launch;
}

} // namespace tarnvik
