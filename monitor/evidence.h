// SPDX-License-Identifier: MIT
// The evidence behind each attack line, and the watch it comes from: what the neighbour table
// holds for the next hop toward the probed address, beside the next hop's genuine address (the
// baseline). While monitoring runs the entry is read once a tick, before the probe, and followed
// through the system's notifications where it has them; a change away from the baseline is an
// attack whether or not the echo is answered. One line per failed probe, per attack and per move
// in arp_evidence.log beside the attack log, UTF-8, tab-separated:
//   time  probed  next-hop  baseline-MAC|-  MAC-now|-  state-now  verdict  attacker-IP|-
// The IPv6 default routers are watched beside it (routers.h): their lines name the router's IPv6
// address, with its zone, as the next hop, and the other holder's IPv6 address as the attacker.
#pragma once

#include "neighbour.h"
#include "routers.h"
#include "system.h"
#include "verdict.h"
#include "watch.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tarnvik {

inline constexpr const char* kEvidenceLogName = "arp_evidence.log";
// The same records for collectors, one JSON object a line, rotated at 10 MiB (one previous file,
// arp_evidence.jsonl.1).
inline constexpr const char* kEvidenceJsonName = "arp_evidence.jsonl";
inline constexpr std::uintmax_t kEvidenceJsonLimit = 10 * 1024 * 1024;

struct EvidenceRecord {
    std::string probed;
    std::optional<NeighbourReading> baseline;
    NeighbourReading now;
    Verdict verdict = Verdict::unknown;
    // Another entry that holds the address now found for the next hop: who answers for it.
    std::optional<std::string> attacker;
    // An IPv6 router's default route went with the change: ",route-lost" after its state.
    bool routeLost = false;
    // A move proven by questions (the old address silent, the new one answering), rather than
    // taken over once the old one stayed away.
    bool moveProven = false;
};

// The next hop's address as text: the IPv4 address, or an IPv6 router's with its zone.
std::string hopText(const NeighbourReading& reading);
// The same without the zone, as commands take it beside the interface.
std::string hopAddress(const NeighbourReading& reading);

// What a reading says beside the baseline; readings of two different next hops compare as
// unknown.
Verdict evidenceVerdict(const std::optional<NeighbourReading>& baseline,
                        const NeighbourReading& now);

// One line of the evidence log, LF included.
std::string evidenceLine(const std::string& isoTime, const EvidenceRecord& record);

// Who wrote a record: the machine, its user, and the interface the record's neighbour is on
// with this machine's own link-layer address there.
struct Desk {
    std::string host, user, interface, mac;
};
// The record as one JSON object, LF included: time, host, user, interface, mac, program,
// version, family, probed, next_hop, baseline_mac, mac_now, state, verdict, attacker_ip (null
// where the log line has "-"), and for an IPv6 router router and route_lost.
std::string evidenceJson(const std::string& isoTime, const EvidenceRecord& record,
                         const Desk& desk);
// Text as a JSON string, quoted; a byte that is no UTF-8 becomes U+FFFD.
std::string jsonString(std::string_view text);
// The record in words for standard error (empty for kinds that say nothing there); a move's
// words say whether it was proven (`moveProven`).
std::string recordReport(const EvidenceRecord& record);

// One defended neighbour (the next hop, or an IPv6 router) as the evidence knows it now.
struct DefendedNeighbour {
    std::string key; // unique among the defended, whatever its kind
    NeighbourWatch* watch = nullptr;
    // Its genuine reading (the watch's baseline) and the other address's, as full readings.
    std::optional<NeighbourReading> genuine, suspect;
    // Its entry as last read; none while its route is not there.
    std::optional<NeighbourReading> now;
    std::string probed;
};

struct EvidenceSettings {
    std::filesystem::path logDirectory;
    // The local time in ISO 8601 with its offset.
    std::function<std::string()> isoTime;
    std::function<int(Ipv4Value, NeighbourReading&)> read;
    // Another entry on the interface holding the link-layer address, besides the next hop.
    std::function<std::optional<Ipv4Value>(int, Ipv4Value, const std::string&)> holder;
    // Where failures, attacks and moves are reported.
    std::function<void(const std::string&)> report;
    // The system's own log: the line's fields and the verdict; failures there are its own.
    std::function<void(const std::string& line, Verdict verdict)> systemLog;
    // The log is created readable by this user alone (it sits in a private directory).
    bool ownerOnly = false;
    // The system's notifications of neighbour entries, where it gives them.
    std::shared_ptr<NeighbourEvents> events = nullptr;
    // Asks a link-layer address whether it answers for its IPv4 address (a unicast ARP request),
    // run to its end: 0 when it answered. None where it cannot be asked.
    std::function<os::RunOutcome(const NeighbourReading& asked)> ask = nullptr;
    // The IPv6 default routers with their entries; none, they are not watched.
    // The routers known already are read for their entries too, routed or not.
    std::function<int(std::vector<Ipv6Router>&, const std::vector<Ipv6Router>& known)> readRouters =
        nullptr;
    // An IPv6 address as text, with its zone where it is link-local.
    std::function<std::string(const Ipv6Address&, int)> ipv6Text = nullptr;
    // Another IPv6 entry on the interface holding the link-layer address, besides the router.
    std::function<std::optional<Ipv6Address>(int, const Ipv6Address&, const std::string&)>
        ipv6Holder = nullptr;
    // The desk named in each JSON record: the machine and user, and an interface's name and
    // this machine's link-layer address on it. None: the JSON records are not written.
    std::string host = "", user = "";
    std::function<std::string(int)> interfaceName = nullptr, interfaceAddress = nullptr;
};

class EvidenceRecorder {
  public:
    explicit EvidenceRecorder(EvidenceSettings settings);

    // Monitoring starts (the first tick arms the watch), or stops.
    void startWatching();
    void stopWatching();
    struct TickStart {
        bool attacked = false;    // then, or in the notifications that had come in
        bool needsArming = false; // a next hop not armed yet: flush, then arm()
    };
    // A tick begins, before its probe: reads the target's next hop.
    TickStart beginTick(const std::string& probed);
    // Right after the flush for a new next hop has ended (`flushed`), or could not run: drops
    // what the notifications said before it and reads the entry afresh, the first address from
    // then on being the baseline.
    void arm(const std::string& probed, bool flushed);
    // A change of an entry, as the system told it.
    WatchOutcome notified(const NeighbourChange& change);
    // Takes every notification that has come in; true when one was an attack.
    bool catchUp();
    // After an answered probe outside monitoring (a probe by hand): the entry becomes the
    // baseline when there is none.
    void answered(const std::string& probed);
    // On a failed probe, before the flush: reads the table as the failure left it and records.
    // True when a line was written.
    bool failed(const std::string& probed);
    // Called with each record as its line is written.
    // Called as an attack is seen, before its record is made (ipv6: a router's): the first
    // alert goes out before the evidence is gathered.
    void onAttack(std::function<void(bool ipv6)> attacked) { attacked_ = std::move(attacked); }
    void onRecord(std::function<void(const EvidenceRecord&)> recorded) {
        recorded_ = std::move(recorded);
    }
    // A repair's flush of that family (IPv6: the routers') has started.
    void repaired(bool ipv6) { ipv6 ? routers_.repaired() : watch_.repaired(); }
    // Every neighbour watched now: the next hop once armed, and each known IPv6 router.
    std::vector<DefendedNeighbour> defended();
    // The outcome of a question to the neighbour `key`, recorded; true when it was an attack.
    bool answered(const std::string& key, const Reply& reply);

    const NextHopWatch& watch() const { return watch_; }
    // The target's next hop as the last read found it.
    const std::optional<NeighbourReading>& hop() const { return hop_; }
    const std::string& target() const { return target_; }
    // Writes a record that is no reading's (a hold made or released).
    void note(const EvidenceRecord& record) { this->record(record); }

    // Right after the IPv6 neighbour entries were flushed (`flushed`), or could not be (then the
    // addresses as the cache holds them are taken as genuine, unproven): the routers present now
    // are the known ones.
    void armRouters(bool flushed);
    bool watchesRouters() const { return settings_.readRouters != nullptr; }
    const RouterWatch& routers() const { return routers_; }
    // Whether a router was attacked (changed, or a new one) since the last call.
    bool takeRouterAttack() { return std::exchange(routerAttacked_, false); }
    // A router's entry as a reading, for its records and its hold.
    NeighbourReading routerReading(const Ipv6Router& router, const std::string& linkAddress) const;

  private:
    std::optional<NeighbourReading> read(const std::string& probed);
    WatchOutcome observe(const NeighbourReading& reading);
    WatchOutcome recordOutcome(WatchOutcome outcome, const NeighbourReading& reading);
    // Only the next hop's notifications reach the program from now on.
    void follow(std::optional<Ipv4Value> hop);
    void record(EvidenceRecord record);
    std::optional<std::string> holderOf(const NeighbourReading& reading) const;
    void report(const std::string& line) const;
    // Reads the routers again and records what changed; `tick`: the tick's own read.
    void readRouters(bool tick, bool again = true);
    void recordRouters(const std::vector<RouterFinding>& findings);
    void followRouters();

    EvidenceSettings settings_;
    std::function<void(const EvidenceRecord&)> recorded_;
    NextHopWatch watch_;
    bool watching_ = false;
    std::string target_;
    // The next hop the last read found for the target.
    std::optional<NeighbourReading> hop_;
    // The next hop the watch is armed for: notifications of other entries are not its.
    std::optional<NeighbourReading> armed_;
    bool followFailureSaid_ = false;
    RouterWatch routers_;
    bool routerAttacked_ = false;
    std::function<void(bool ipv6)> attacked_;
    bool routerReadFailureSaid_ = false;
    bool jsonFailureSaid_ = false;
};

} // namespace tarnvik
