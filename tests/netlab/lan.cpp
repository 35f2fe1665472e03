// SPDX-License-Identifier: MIT
#include "lan.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace tarnvik::netlab {

using namespace std::chrono_literals;

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string lanUnavailableReason() {
    if (auto reason = unavailableReason(); !reason.empty()) {
        return reason;
    }
    for (const char* tool : {"Xvfb", "xdotool", "tcpdump"}) {
        if (run({"sh", "-c", std::string("command -v ") + tool}).exitCode != 0) {
            return std::string("the LAN lab needs ") + tool;
        }
    }
    return {};
}

Lan::Lan(const std::string& tag) : lab_(tag) {
    const auto lan = lab_.add("lan");
    lab_.mustExec(lan, {"ip", "link", "add", "br0", "type", "bridge"});
    lab_.mustExec(lan, {"ip", "link", "set", "br0", "up"});
    auto host = [&](const std::string& role, const std::string& ip, const std::string& mac) {
        const auto ns = lab_.add(role);
        const auto port = "p-" + role;
        mustRun({"ip", "-n", ns, "link", "add", "eth0", "address", mac, "type", "veth", "peer",
                 "name", port, "netns", lan});
        lab_.mustExec(lan, {"ip", "link", "set", port, "master", "br0", "up"});
        lab_.mustExec(ns, {"ip", "link", "set", "eth0", "up"});
        lab_.mustExec(ns, {"ip", "addr", "add", ip + "/24", "dev", "eth0"});
        return ns;
    };
    ws_ = host("ws", kWsIp, kWsMac);
    target_ = host("target", kTargetIp, kTargetMac);
    attacker_ = host("attacker", kAttackerIp, kAttackerMac);
    // One forged reply overrides the entry however recently it was confirmed.
    lab_.sysctl(ws_, "net.ipv4.neigh.eth0.locktime", "0");
    lab_.writeEtcFile(ws_, "hosts", std::string(kTargetIp) + " " + kTargetName + " target.test\n");
    // Unknown names fail at once on the namespace's own loopback.
    lab_.writeEtcFile(ws_, "resolv.conf", "nameserver 127.0.0.1\n");
}

std::string Lan::neighbourMac() {
    const auto shown = lab_.exec(ws_, {"ip", "neigh", "show", kTargetIp, "dev", "eth0"});
    const auto at = shown.output.find("lladdr ");
    return at == std::string::npos ? "" : shown.output.substr(at + 7, 17);
}

std::vector<double> Lan::forgeArp(const std::string& forger, int count, int intervalMs) {
    std::istringstream lines(
        lab_.mustExec(attacker_, {forger, "eth0", kTargetIp, kFakeMac, kWsIp, kWsMac,
                                  std::to_string(count), std::to_string(intervalMs)}));
    std::vector<double> times;
    std::string word;
    long long micros = 0;
    while (lines >> word >> micros) {
        times.push_back(static_cast<double>(micros) / 1e6);
    }
    return times;
}

ManInTheMiddle::ManInTheMiddle(Lan& lan, const std::string& forger, int intervalMs, bool requests)
    : lan_(lan) {
    auto& lab = lan_.namespaces();
    lab.sysctl(lan_.attacker(), "net.ipv4.ip_forward", "1");
    lab.sysctl(lan_.attacker(), "net.ipv4.conf.all.send_redirects", "0");
    lab.sysctl(lan_.attacker(), "net.ipv4.conf.eth0.send_redirects", "0");
    auto poison = [&](const char* claimed, const char* victimIp, const char* victimMac) {
        return std::make_unique<Process>(lab.execArgv(
            lan_.attacker(), {forger, "eth0", claimed, kAttackerMac, victimIp, victimMac, "100000",
                              std::to_string(intervalMs), requests ? "request" : "reply"}));
    };
    toWs_ = poison(kTargetIp, kWsIp, kWsMac);
    toTarget_ = poison(kWsIp, kTargetIp, kTargetMac);
    long long micros = 0;
    std::sscanf(toWs_->readLine(std::chrono::seconds(5)).c_str(), "forged %lld", &micros);
    firstForgedAt_ = static_cast<double>(micros) / 1e6;
}

ManInTheMiddle::~ManInTheMiddle() {
    toWs_.reset();
    toTarget_.reset();
    lan_.namespaces().sysctl(lan_.attacker(), "net.ipv4.ip_forward", "0");
}

Capture::Capture(Lan& lan, std::filesystem::path file) : file_(std::move(file)) {
    tcpdump_ = std::make_unique<Process>(lan.namespaces().execArgv(
        lan.target(), {"tcpdump", "-i", "eth0", "-n", "-U", "--immediate-mode", "-Z", "root", "-w",
                       file_.string(), "icmp or icmp6 or arp"}));
    for (int i = 0; i < 50; ++i) {
        if (tcpdump_->readLine(200ms).find("listening on") != std::string::npos) {
            return;
        }
    }
    throw std::runtime_error("tcpdump did not start");
}

Desktop::Desktop(Namespaces& lab, std::string ns) : lab_(lab), ns_(std::move(ns)) {
    // Without -noreset the server resets whenever its last client leaves, and a program started
    // in that moment cannot connect.
    xvfb_ =
        std::make_unique<Process>(lab_.execArgv(ns_, {"Xvfb", "-displayfd", "1", "-nolisten", "tcp",
                                                      "-noreset", "-screen", "0", "640x480x24"}));
    for (int i = 0; i < 50 && display_.empty(); ++i) {
        const auto line = xvfb_->readLine(200ms);
        if (!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit)) {
            display_ = ":" + line;
        }
    }
    if (display_.empty()) {
        throw std::runtime_error("Xvfb did not start");
    }
}

CommandResult Desktop::xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), {"env", "DISPLAY=" + display_, "xdotool"});
    return lab_.exec(ns_, args);
}

std::unique_ptr<Process> Desktop::start(const std::filesystem::path& program,
                                        const std::filesystem::path& runtimeDir,
                                        std::chrono::milliseconds* shownAfter,
                                        const std::vector<std::string>& arguments,
                                        const std::vector<std::string>& runAs) {
    const auto started = std::chrono::steady_clock::now();
    std::vector<std::string> argv = runAs;
    for (const auto& arg : {std::string("env"), "DISPLAY=" + display_,
                            "XDG_RUNTIME_DIR=" + (runtimeDir / "run").string(),
                            "HOME=" + runtimeDir.string(), program.string()}) {
        argv.push_back(arg);
    }
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    auto process = std::make_unique<Process>(lab_.execArgv(ns_, argv));
    std::string window;
    while (window.empty()) {
        const auto found = xdotool({"search", "--all", "--onlyvisible", "--pid",
                                    std::to_string(process->pid()), "--name", "."});
        // xdotool's warnings share the output; the window id is the line of digits.
        std::istringstream lines(found.output);
        for (std::string line; window.empty() && std::getline(lines, line);) {
            if (!line.empty() && std::all_of(line.begin(), line.end(), ::isdigit)) {
                window = line;
            }
        }
        if (!window.empty()) {
            break;
        }
        if (std::chrono::steady_clock::now() - started > 20s) {
            const auto output = process->stop();
            throw std::runtime_error("no window appeared for " + program.string() + ": " + output);
        }
        std::this_thread::sleep_for(10ms);
    }
    if (shownAfter != nullptr) {
        *shownAfter = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - started);
    }
    xdotool({"windowfocus", "--sync", window});
    std::this_thread::sleep_for(300ms);
    return process;
}

void Desktop::keys(std::vector<std::string> names) {
    names.insert(names.begin(), {"key", "--delay", "50"});
    if (xdotool(names).exitCode != 0) {
        throw std::runtime_error("xdotool key failed");
    }
}

void Desktop::type(const std::string& text) {
    if (xdotool({"type", "--delay", "20", text}).exitCode != 0) {
        throw std::runtime_error("xdotool type failed");
    }
}

void Desktop::monitorAddress(const std::string& address) {
    keys({"Tab", "Tab", "Tab", "Tab"});
    type(address);
    keys({"Tab", "Tab", "space"});
}

void Desktop::monitorHostName(const std::string& name) {
    // Tab to the mode button and switch; back to the name box; type; on to the start button.
    keys({"Tab", "Tab", "Tab", "Tab", "Tab", "space", "shift+Tab"});
    type(name);
    keys({"Tab", "Tab", "space"});
}

} // namespace tarnvik::netlab
