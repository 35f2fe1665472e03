// SPDX-License-Identifier: MIT
// tarnvik-report over 1,000,000 records of 50 desks, a collector's day under attack: the whole
// run of the command (time, peak memory), and the JSON reading alone with each library Debian
// offers, which chose the one it links.
#include <nlohmann/json.hpp>
#include <simdjson.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

int main() {
    constexpr int kRecords = 1'000'000;
    const std::string file = "/tmp/tarnvik-report-bench.jsonl";
    {
        std::ofstream out(file);
        for (int i = 0; i < kRecords; ++i) {
            const int desk = i % 50;
            const char* verdict = i % 10 == 0 ? "changed" : i % 97 == 0 ? "held" : "unchanged";
            char line[512];
            std::snprintf(
                line, sizeof line,
                "{\"time\":\"2026-12-08T%02d:%02d:%02d+00:00\",\"host\":\"desk-%02d\","
                "\"user\":\"user%02d\",\"interface\":\"eth0\",\"mac\":\"02:00:00:00:01:%02x\","
                "\"program\":\"tarnvik\",\"version\":\"0.2.0\",\"family\":\"ipv4\","
                "\"probed\":\"198.18.0.2\",\"next_hop\":\"198.18.0.1\","
                "\"baseline_mac\":\"02:00:00:00:00:01\",\"mac_now\":\"02:00:00:00:00:%02x\","
                "\"state\":\"REACHABLE\",\"verdict\":\"%s\",\"attacker_ip\":null}\n",
                (i / 3600 / 12) % 24, (i / 60) % 60, i % 60, desk, desk, desk,
                i % 10 == 0 ? 0x66 + i % 3 : 1, verdict);
            out << line;
        }
    }

    // The command as a collector runs it.
    auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl(TARNVIK_REPORT, TARNVIK_REPORT, "--now", "2026-12-08T23:59:59Z", file.c_str(),
                nullptr);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    const double command = secondsSince(start);

    // Reading the fields it needs, with each library (after the command: its peak memory is
    // its own, not that of a copy of these lines forked with it).
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    start = std::chrono::steady_clock::now();
    simdjson::ondemand::parser parser;
    std::size_t changed = 0;
    for (const auto& line : lines) {
        simdjson::padded_string padded(line);
        simdjson::ondemand::document document;
        std::string_view verdict;
        if (!parser.iterate(padded).get(document) && !document["verdict"].get(verdict)) {
            changed += verdict == "changed";
        }
    }
    const double fast = secondsSince(start);
    start = std::chrono::steady_clock::now();
    std::size_t changedToo = 0;
    for (const auto& line : lines) {
        const auto json = nlohmann::json::parse(line, nullptr, false);
        changedToo += !json.is_discarded() && json.value("verdict", "") == "changed";
    }
    const double plain = secondsSince(start);
    std::remove(file.c_str());

    std::printf("%-58s %12s %16s\n", "", "measured", "goal");
    std::printf("%-58s %10.2f s %16s\n", "tarnvik-report over 1,000,000 records of 50 desks",
                command, "2 s");
    std::printf("%-58s %9.1f MiB %16s\n", "  its peak memory",
                static_cast<double>(usage.ru_maxrss) / 1024, "-");
    std::printf("%-58s %10.2f s %16s\n", "  reading them with simdjson (linked)", fast, "-");
    std::printf("%-58s %10.2f s %16s\n", "  reading them with nlohmann-json", plain, "-");
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && changed == changedToo ? 0 : 1;
}
