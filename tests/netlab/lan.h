// SPDX-License-Identifier: MIT
// A small LAN of namespaces behind a bridge, and a desktop on which the real program is driven
// through the keyboard as a person would drive it:
//   ws       198.18.0.1  02:00:00:00:00:01  the workstation; its hosts file names the target
//   target   198.18.0.2  02:00:00:00:00:02  answers echo
//   attacker 198.18.0.3  02:00:00:00:00:03  forges ARP replies
// No namespace has a route beyond 198.18.0.0/24.
#pragma once

#include "lab.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace tarnvik::netlab {

inline constexpr const char* kWsIp = "198.18.0.1";
inline constexpr const char* kTargetIp = "198.18.0.2";
inline constexpr const char* kWsMac = "02:00:00:00:00:01";
inline constexpr const char* kTargetMac = "02:00:00:00:00:02";
inline constexpr const char* kFakeMac = "02:00:00:de:ad:01";
inline constexpr const char* kAttackerIp = "198.18.0.3";
inline constexpr const char* kAttackerMac = "02:00:00:00:00:03";
inline constexpr const char* kTargetName = "www.target.test";

// Why the LAN and its desktop cannot be built here, or empty text.
std::string lanUnavailableReason();

class Lan {
  public:
    explicit Lan(const std::string& tag);

    Namespaces& namespaces() { return lab_; }
    const std::string& ws() const { return ws_; }
    const std::string& target() const { return target_; }
    const std::string& attacker() const { return attacker_; }

    // The MAC address the workstation holds for the target, or empty text.
    std::string neighbourMac();

    // Sends `count` forged replies, `intervalMs` apart, claiming the target for kFakeMac; returns
    // the wall-clock second of each.
    std::vector<double> forgeArp(const std::string& forger, int count = 1, int intervalMs = 1000);

  private:
    Namespaces lab_;
    std::string ws_, target_, attacker_;
};

// A forwarding man in the middle, for as long as the object lives: the attacker's kernel
// forwards (and sends no redirects that would give it away), and `forger` tells the
// workstation and the target every `intervalMs` that the other's address is at the attacker's
// own MAC.
class ManInTheMiddle {
  public:
    // `requests`: poisons with forged ARP requests instead of replies.
    ManInTheMiddle(Lan& lan, const std::string& forger, int intervalMs, bool requests = false);
    ~ManInTheMiddle();
    // The wall-clock second of the first forged reply to the workstation.
    double firstForgedAt() const { return firstForgedAt_; }

  private:
    Lan& lan_;
    std::unique_ptr<Process> toWs_, toTarget_;
    double firstForgedAt_ = 0;
};

// tcpdump on the target's link, writing a pcap file until destroyed.
class Capture {
  public:
    Capture(Lan& lan, std::filesystem::path file);
    const std::filesystem::path& file() const { return file_; }

  private:
    std::filesystem::path file_;
    std::unique_ptr<Process> tcpdump_;
};

// An Xvfb display inside a namespace, with xdotool to type on it.
class Desktop {
  public:
    Desktop(Namespaces& lab, std::string ns);
    const std::string& display() const { return display_; }

    // Starts `program` with this display and `runtimeDir`, waits until its window is shown and
    // has the focus, and returns it running. `shownAfter` receives the time that took.
    // `runAs` goes in front of the program's command line (setpriv, say).
    std::unique_ptr<Process> start(const std::filesystem::path& program,
                                   const std::filesystem::path& runtimeDir,
                                   std::chrono::milliseconds* shownAfter = nullptr,
                                   const std::vector<std::string>& arguments = {},
                                   const std::vector<std::string>& runAs = {});

    CommandResult xdotool(std::vector<std::string> args);
    void keys(std::vector<std::string> names);
    void type(const std::string& text);

    // From the focus at open (the out-of-view Ping button): Tab to the address box, type the
    // address, Tab to the start button and press it.
    void monitorAddress(const std::string& address);
    // Switches to host-name mode, types the name and starts.
    void monitorHostName(const std::string& name);

  private:
    Namespaces& lab_;
    std::string ns_;
    std::unique_ptr<Process> xvfb_;
    std::string display_;
};

// Wall-clock seconds, comparable with capture time stamps.
double wallSeconds();

} // namespace tarnvik::netlab
