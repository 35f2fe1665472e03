// SPDX-License-Identifier: MIT
// The platform layer on Linux: the only file that touches sockets and the resolver.
#include "icmp_packet.h"
#include "platform.h"

#include <ares.h>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <ctime>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

namespace tarnvik {

namespace {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

struct EchoSocket {
    UniqueFd fd;
    EchoSocketKind kind = EchoSocketKind::None;
};

// The one place that opens echo sockets. The ping socket needs no privilege where
// net.ipv4.ping_group_range admits our group; otherwise a raw socket, which needs CAP_NET_RAW.
// `rawFirst` turns the order round once the ping socket has been refused, so that a probe does
// not pay for a failing system call every time; the other kind is still tried when the first
// is refused.
EchoSocket openEchoSocket(bool rawFirst = false) {
    auto openDatagram = [] {
        const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            // Without IP_RECVERR the kernel drops ICMP errors about our request, and an
            // unreachable target would look like a timeout.
            const int on = 1;
            ::setsockopt(fd, SOL_IP, IP_RECVERR, &on, sizeof on);
        }
        return EchoSocket{UniqueFd(fd), fd >= 0 ? EchoSocketKind::Datagram : EchoSocketKind::None};
    };
    auto openRaw = [] {
        const int fd = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd >= 0) {
            // A raw socket sees every ICMP packet of the host; let only the kinds that can answer
            // an echo through. No IP_RECVERR here: errors about other processes' requests would
            // land in our queue. Never connect() it either: an on-link ARP failure comes back
            // from our own address.
            icmp_filter filter{};
            filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) |
                            (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
            ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
        }
        return EchoSocket{UniqueFd(fd), fd >= 0 ? EchoSocketKind::Raw : EchoSocketKind::None};
    };
    // EACCES: our group is outside ping_group_range (or no CAP_NET_RAW). EPERM: a security
    // module said no. EAFNOSUPPORT, EPROTONOSUPPORT: a kernel built without ping sockets.
    auto refused = [] {
        return errno == EACCES || errno == EPERM || errno == EAFNOSUPPORT ||
               errno == EPROTONOSUPPORT;
    };
    EchoSocket first = rawFirst ? openRaw() : openDatagram();
    if (first.fd || !refused()) {
        return first;
    }
    return rawFirst ? openDatagram() : openRaw();
}

std::int64_t monotonicNanoseconds() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

Ipv4Value fromInAddr(in_addr address) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&address.s_addr);
    return ipv4FromOctets(bytes[0], bytes[1], bytes[2], bytes[3]);
}

in_addr toInAddr(Ipv4Value value) {
    in_addr address{};
    const auto octets = ipv4Octets(value);
    std::memcpy(&address.s_addr, octets.data(), octets.size());
    return address;
}

// A new sequence number for every probe of the process, so that a late reply never answers a
// later probe.
std::uint16_t nextSequence() {
    static std::atomic<std::uint16_t> sequence{0};
    return ++sequence;
}

class PosixEchoHandle final : public EchoHandle {
  public:
    explicit PosixEchoHandle(EchoSocket socket) : socket_(std::move(socket)) {}

    std::uint32_t sendEcho(Ipv4Value destination, std::span<const std::uint8_t> data,
                           std::uint32_t waitMilliseconds,
                           EchoReplyRecord& reply) noexcept override {
        try {
            return send(destination, data, waitMilliseconds, reply);
        } catch (...) {
            reply.setStatus(ip_status::noResources);
            return 0;
        }
    }

  private:
    std::uint32_t fail(EchoReplyRecord& reply, std::uint32_t status) {
        reply.setStatus(status);
        return 0;
    }

    std::uint32_t send(Ipv4Value destination, std::span<const std::uint8_t> data,
                       std::uint32_t waitMilliseconds, EchoReplyRecord& reply) {
        // Linux answers a packet to 0.0.0.0 from the local host; it must never read as reachable.
        if (destination == 0) {
            return fail(reply, ip_status::badDestination);
        }
        if (!socket_.fd) {
            return fail(reply, ip_status::generalFailure);
        }
        const int fd = socket_.fd.get();
        static const auto identifier = static_cast<std::uint16_t>(::getpid());
        icmp::ProbeKey key{destination, identifier, nextSequence()};
        const auto request = icmp::buildEchoRequest(key.identifier, key.sequence, data);

        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr = toInAddr(destination);
        const std::int64_t sentAt = monotonicNanoseconds();
        ssize_t sent = 0;
        do {
            sent = ::sendto(fd, request.data(), request.size(), 0,
                            reinterpret_cast<const sockaddr*>(&to), sizeof to);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) {
            return fail(reply, icmp::statusForSendError(errno));
        }
        if (socket_.kind == EchoSocketKind::Datagram) {
            // The kernel replaced our identifier with the socket's local port.
            sockaddr_in local{};
            socklen_t length = sizeof local;
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
                return fail(reply, ip_status::generalFailure);
            }
            key.identifier = ntohs(local.sin_port);
        }

        const std::int64_t deadline =
            sentAt + static_cast<std::int64_t>(waitMilliseconds) * 1'000'000;
        bool looked = false;
        for (;;) {
            const std::int64_t remaining = deadline - monotonicNanoseconds();
            if (remaining <= 0 && looked) {
                return fail(reply, ip_status::timedOut);
            }
            // Never hand the wait to poll as it is: 0xFFFFFFFF as an int would be infinite.
            const std::int64_t remainingMs = remaining <= 0 ? 0 : (remaining + 999'999) / 1'000'000;
            pollfd ready{fd, POLLIN, 0};
            const int polled =
                ::poll(&ready, 1, static_cast<int>(std::min<std::int64_t>(remainingMs, INT_MAX)));
            looked = true;
            if (polled < 0 && errno != EINTR) {
                return fail(reply, ip_status::generalFailure);
            }
            if (polled <= 0) {
                continue;
            }
            if (const auto outcome = drain(key, reply, (ready.revents & POLLERR) != 0)) {
                reply.setRoundTripTime(
                    static_cast<std::uint32_t>((monotonicNanoseconds() - sentAt) / 1'000'000));
                return *outcome;
            }
        }
    }

    // Reads everything queued (the error queue only when poll flagged it); returns the record
    // count once something answers our request.
    std::optional<std::uint32_t> drain(const icmp::ProbeKey& key, EchoReplyRecord& reply,
                                       bool errorPending) {
        if (errorPending && socket_.kind == EchoSocketKind::Datagram) {
            if (auto outcome = drainErrorQueue(key, reply)) {
                return outcome;
            }
        }
        for (;;) {
            sockaddr_in from{};
            msghdr message{};
            const ssize_t got = receive(0, from, {}, message);
            if (got < 0) {
                // With IP_RECVERR a pending error shows as a failed receive: it means "read the
                // error queue", not that the probe failed.
                if (socket_.kind == EchoSocketKind::Datagram && errno != EAGAIN) {
                    return drainErrorQueue(key, reply);
                }
                return std::nullopt;
            }
            if (message.msg_flags & MSG_TRUNC) {
                continue;
            }
            const std::span<const std::uint8_t> bytes(buffer_.data(),
                                                      static_cast<std::size_t>(got));
            const auto found = socket_.kind == EchoSocketKind::Raw
                                   ? icmp::classifyRawPacket(bytes, key)
                                   : icmp::classifyDatagram(bytes, fromInAddr(from.sin_addr), key);
            if (found.verdict != icmp::Verdict::Unrelated) {
                return record(found, reply);
            }
        }
    }

    std::optional<std::uint32_t> drainErrorQueue(const icmp::ProbeKey& key,
                                                 EchoReplyRecord& reply) {
        for (;;) {
            sockaddr_in original{};
            std::array<char, 512> control{};
            msghdr message{};
            const ssize_t got = receive(MSG_ERRQUEUE, original, control, message);
            if (got < 0) {
                return std::nullopt;
            }
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != SOL_IP || c->cmsg_type != IP_RECVERR) {
                    continue;
                }
                sock_extended_err error{};
                std::memcpy(&error, CMSG_DATA(c), sizeof error);
                Ipv4Value offender = 0;
                if (c->cmsg_len >= CMSG_LEN(sizeof error + sizeof(sockaddr_in))) {
                    sockaddr_in who{};
                    std::memcpy(&who, CMSG_DATA(c) + sizeof error, sizeof who);
                    offender = who.sin_family == AF_INET ? fromInAddr(who.sin_addr) : 0;
                }
                std::uint32_t status = ip_status::generalFailure;
                if (error.ee_origin == SO_EE_ORIGIN_ICMP) {
                    status = icmp::statusForIcmpError(error.ee_type, error.ee_code);
                } else if (error.ee_origin == SO_EE_ORIGIN_LOCAL) {
                    status = icmp::statusForSendError(static_cast<int>(error.ee_errno));
                }
                const std::span<const std::uint8_t> quoted(buffer_.data(),
                                                           static_cast<std::size_t>(got));
                const auto found = icmp::classifyQueuedError(quoted, fromInAddr(original.sin_addr),
                                                             offender, status, key);
                if (found.verdict != icmp::Verdict::Unrelated) {
                    return record(found, reply);
                }
            }
        }
    }

    // One message without blocking, retried across signals, into buffer_; `message` keeps its
    // flags and control data for the caller.
    ssize_t receive(int flags, sockaddr_in& from, std::span<char> control, msghdr& message) {
        iovec io{buffer_.data(), buffer_.size()};
        ssize_t got = 0;
        do {
            message = msghdr{};
            message.msg_name = &from;
            message.msg_namelen = sizeof from;
            message.msg_iov = &io;
            message.msg_iovlen = 1;
            message.msg_control = control.empty() ? nullptr : control.data();
            message.msg_controllen = control.size();
            got = ::recvmsg(socket_.fd.get(), &message, flags | MSG_DONTWAIT);
        } while (got < 0 && errno == EINTR);
        message.msg_iov = nullptr; // `io` ends here
        message.msg_iovlen = 0;
        return got;
    }

    static std::uint32_t record(const icmp::Classification& found, EchoReplyRecord& reply) {
        reply.setAddress(found.source);
        reply.setStatus(found.status);
        reply.setTtl(found.ttl);
        reply.setData(found.data);
        return 1;
    }

    EchoSocket socket_;
    std::array<std::uint8_t, 2048> buffer_{};
};

// What a query's callback leaves behind; it outlives the channel that calls it.
struct LookupOutcome {
    bool done = false;
    std::optional<Ipv4Value> address;
};

std::optional<Ipv4Value> firstAddress(const hostent* entry) {
    if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_length != 4 ||
        entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        return std::nullopt;
    }
    in_addr first{};
    std::memcpy(&first, entry->h_addr_list[0], sizeof first);
    return fromInAddr(first);
}

// The A records of a DNS answer, in the answer's own order.
void onAnswer(void* outcome, int status, int /*timeouts*/, unsigned char* answer, int length) {
    auto& result = *static_cast<LookupOutcome*>(outcome);
    result.done = true;
    hostent* entry = nullptr;
    if (status == ARES_SUCCESS &&
        ::ares_parse_a_reply(answer, length, &entry, nullptr, nullptr) == ARES_SUCCESS) {
        result.address = firstAddress(entry);
    }
    if (entry != nullptr) {
        ::ares_free_hostent(entry);
    }
}

struct ChannelDeleter {
    void operator()(ares_channeldata* channel) const { ::ares_destroy(channel); }
};
using Channel = std::unique_ptr<ares_channeldata, ChannelDeleter>;

// Runs the channel's queries until `outcome` is done or the deadline passes.
void runUntil(ares_channel channel, const LookupOutcome& outcome, std::int64_t deadline) {
    while (!outcome.done) {
        const std::int64_t remaining = deadline - monotonicNanoseconds();
        if (remaining <= 0) {
            return;
        }
        ares_socket_t sockets[ARES_GETSOCK_MAXNUM];
        const int wanted = ::ares_getsock(channel, sockets, ARES_GETSOCK_MAXNUM);
        std::vector<pollfd> polled;
        for (int i = 0; i < ARES_GETSOCK_MAXNUM; ++i) {
            const bool readable = ARES_GETSOCK_READABLE(wanted, i);
            const bool writable = ARES_GETSOCK_WRITABLE(wanted, i);
            if (readable || writable) {
                polled.push_back(
                    {sockets[i],
                     static_cast<short>((readable ? POLLIN : 0) | (writable ? POLLOUT : 0)), 0});
            }
        }
        timeval limit{static_cast<time_t>(remaining / 1'000'000'000),
                      static_cast<suseconds_t>(remaining % 1'000'000'000 / 1000)};
        timeval next{};
        const timeval* wait = ::ares_timeout(channel, &limit, &next);
        const long milliseconds = wait->tv_sec * 1000 + (wait->tv_usec + 999) / 1000;
        const int ready = ::poll(polled.data(), polled.size(),
                                 static_cast<int>(std::clamp<long>(milliseconds, 0, INT_MAX)));
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if (ready <= 0) {
            // The library's own retries and time-outs.
            ::ares_process_fd(channel, ARES_SOCKET_BAD, ARES_SOCKET_BAD);
            continue;
        }
        for (const pollfd& entry : polled) {
            const bool in = (entry.revents & (POLLIN | POLLERR | POLLHUP)) != 0;
            const bool out = (entry.revents & POLLOUT) != 0;
            if (in || out) {
                ::ares_process_fd(channel, in ? entry.fd : ARES_SOCKET_BAD,
                                  out ? entry.fd : ARES_SOCKET_BAD);
            }
        }
    }
}

// One lookup as the system makes it: the hosts file and DNS in the order nsswitch.conf (or
// resolv.conf) gives, each answer in its own order, but on an event loop of ours, so that it ends
// at the deadline whatever the name server does. Nothing is left running: the channel goes with
// it. (c-ares' own gethostbyname sorts the addresses; its parts keep them as given.)
std::optional<Ipv4Value> resolveWithin(const std::string& name, std::uint32_t waitMilliseconds) {
    // A dotted address stands for itself, as the system's lookup takes it, without a query.
    in_addr literal{};
    if (name.find_first_not_of("0123456789.") == std::string::npos &&
        ::inet_aton(name.c_str(), &literal) != 0) {
        return fromInAddr(literal);
    }
    static const int initialised = ::ares_library_init(ARES_LIB_INIT_ALL);
    if (initialised != ARES_SUCCESS) {
        return std::nullopt;
    }
    const std::int64_t deadline =
        monotonicNanoseconds() + static_cast<std::int64_t>(waitMilliseconds) * 1'000'000;
    ares_channel raw = nullptr;
    if (::ares_init(&raw) != ARES_SUCCESS) {
        return std::nullopt;
    }
    LookupOutcome outcome;
    // Destroyed before `outcome`: a query cut short calls back into it once more.
    const Channel channel(raw);
    ares_options options{};
    int mask = 0;
    std::string order = "fb";
    if (::ares_save_options(raw, &options, &mask) == ARES_SUCCESS) {
        if ((mask & ARES_OPT_LOOKUPS) != 0 && options.lookups != nullptr) {
            order = options.lookups;
        }
        ::ares_destroy_options(&options);
    }
    for (const char source : order) {
        if (source == 'f') {
            hostent* entry = nullptr;
            if (::ares_gethostbyname_file(raw, name.c_str(), AF_INET, &entry) == ARES_SUCCESS) {
                const auto address = firstAddress(entry);
                ::ares_free_hostent(entry);
                if (address) {
                    return address;
                }
            }
        } else if (source == 'b') {
            ::ares_search(raw, name.c_str(), ns_c_in, ns_t_a, onAnswer, &outcome);
            runUntil(raw, outcome, deadline);
            if (outcome.address) {
                return outcome.address;
            }
        }
    }
    return std::nullopt;
}

class PosixPlatform final : public Platform {
  public:
    // POSIX sockets need no library start-up, so it cannot fail and there is nothing to undo.
    bool startup() noexcept override { return true; }
    void cleanup() noexcept override {}

    std::unique_ptr<EchoHandle> openEcho() noexcept override {
        try {
            EchoSocket socket = openEchoSocket(pingSocketRefused_);
            pingSocketRefused_ = socket.kind == EchoSocketKind::Raw;
            return std::make_unique<PosixEchoHandle>(std::move(socket));
        } catch (...) {
            return nullptr;
        }
    }

    std::optional<Ipv4Value> resolveFirstIpv4(const std::string& name,
                                              std::uint32_t waitMilliseconds) noexcept override {
        // A NUL inside the text would silently resolve a shorter name.
        if (name.find('\0') != std::string::npos) {
            return std::nullopt;
        }
        try {
            return resolveWithin(name, waitMilliseconds);
        } catch (...) {
            return std::nullopt;
        }
    }

    std::string addressToText(Ipv4Value address) noexcept override {
        const in_addr raw = toInAddr(address);
        std::array<char, INET_ADDRSTRLEN> text{};
        if (::inet_ntop(AF_INET, &raw, text.data(), text.size()) == nullptr) {
            return {};
        }
        return text.data();
    }

  private:
    bool pingSocketRefused_ = false;
};

} // namespace

std::unique_ptr<Platform> makeSystemPlatform() {
    return std::make_unique<PosixPlatform>();
}

EchoSocketKind systemEchoSocketKind() noexcept {
    return openEchoSocket().kind;
}

} // namespace tarnvik
