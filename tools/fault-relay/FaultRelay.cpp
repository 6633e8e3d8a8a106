#include "FaultRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <list>
#include <random>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What the relay itself holds per direction; beyond it the client is not read.
constexpr std::size_t kMaxQueued = 64 * 1024;
// Small socket buffers on both sides, so the kernel does not hide a slow link for seconds.
constexpr int kSocketBuffer = 32 * 1024;
constexpr std::size_t kReadBytes = 16 * 1024;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept {
        if (this != &other) {
            Reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    int get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Closes with a reset instead of an orderly end.
    void Abort() {
        if (fd_ < 0) return;
        const linger hard{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
        Reset();
    }

private:
    int fd_ = -1;
};

void NonBlocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

void SmallBuffers(int fd) {
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool IsLoopback(const in_addr& a) { return (ntohl(a.s_addr) >> 24) == 127; }

struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
    std::size_t sent = 0;
};

struct Direction {
    std::deque<Chunk> queue;
    std::size_t queued = 0;
    Clock::time_point lastDue{};
    bool inEnded = false;  // the sending side finished
    bool outShut = false;  // the end was passed on
};

struct Connection {
    Fd client;
    Fd server;
    Direction up;    // client → server
    Direction down;  // server → client
    bool broken = false;
    bool Finished() const { return up.outShut && down.outShut; }
};

}  // namespace

struct FaultRelay::Loop {
    std::list<Connection> connections;
    std::mt19937 random{std::random_device{}()};
    Clock::time_point epoch = Clock::now();
    double tokens = 0;  // bytes the rate limit lets through now
    Clock::time_point refilled = Clock::now();
    int cutsSeen = 0;
};

FaultRelay::FaultRelay(std::string targetHost, int targetPort, int listenPort)
    : targetHost_(std::move(targetHost)), targetPort_(targetPort), port_(listenPort) {}

FaultRelay::~FaultRelay() { Stop(); }

bool FaultRelay::Start() {
    in_addr target{};
    if (::inet_pton(AF_INET, targetHost_.c_str(), &target) != 1 || !IsLoopback(target)) {
        error_ = "the relay forwards only to IPv4 loopback addresses, not " + targetHost_;
        return false;
    }
    Fd listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int on = 1;
    ::setsockopt(listener.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Set before listening, so accepted connections advertise a small window from the start.
    ::setsockopt(listener.get(), SOL_SOCKET, SO_RCVBUF, &kSocketBuffer, sizeof kSocketBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port_));
    socklen_t len = sizeof addr;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listener.get(), 64) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error_ = std::string("cannot listen: ") + std::strerror(errno);
        return false;
    }
    NonBlocking(listener.get());
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        error_ = "eventfd failed";
        return false;
    }
    port_ = ntohs(addr.sin_port);
    listenFd_ = listener.Release();
    quit_ = false;
    thread_ = std::thread(&FaultRelay::Run, this);
    return true;
}

void FaultRelay::Stop() {
    if (thread_.joinable()) {
        quit_ = true;
        Wake();
        thread_.join();
    }
    if (listenFd_ >= 0) ::close(listenFd_);
    if (wakeFd_ >= 0) ::close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

void FaultRelay::Wake() {
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

FaultRelay::Faults FaultRelay::Current() const {
    std::lock_guard lock(mutex_);
    return faults_;
}

void FaultRelay::Set(const Faults& faults) {
    {
        std::lock_guard lock(mutex_);
        faults_ = faults;
    }
    Wake();
}

void FaultRelay::SetDelay(int ms, int jitterMs) {
    Faults f = Current();
    f.delayMs = std::max(0, ms);
    f.jitterMs = std::clamp(jitterMs, 0, f.delayMs);
    Set(f);
}

void FaultRelay::SetHoldBack(int everyMs, int forMs) {
    Faults f = Current();
    f.holdEveryMs = std::max(0, everyMs);
    f.holdForMs = std::clamp(forMs, 0, f.holdEveryMs);
    Set(f);
}

void FaultRelay::SetRate(long bitsPerSecond) {
    Faults f = Current();
    f.rateBitsPerSecond = std::max(0L, bitsPerSecond);
    Set(f);
}

void FaultRelay::SetForwarding(bool on) {
    Faults f = Current();
    f.forwarding = on;
    Set(f);
}

void FaultRelay::SetRefuse(bool on) {
    Faults f = Current();
    f.refuse = on;
    Set(f);
}

void FaultRelay::CutConnections() {
    ++cuts_;
    Wake();
}

void FaultRelay::Run() {
    Loop loop;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    ::inet_pton(AF_INET, targetHost_.c_str(), &target.sin_addr);
    target.sin_port = htons(static_cast<uint16_t>(targetPort_));

    while (!quit_) {
        const Faults faults = Current();
        const auto now = Clock::now();

        if (cuts_ != loop.cutsSeen) {
            loop.cutsSeen = cuts_;
            for (auto& c : loop.connections) {
                c.client.Abort();
                c.server.Abort();
            }
            open_ -= static_cast<int>(loop.connections.size());
            loop.connections.clear();
        }

        // The hold-back repeats on the relay's own clock.
        bool holding = false;
        Clock::time_point holdEnds{};
        if (faults.holdEveryMs > 0 && faults.holdForMs > 0) {
            const auto every = std::chrono::milliseconds(faults.holdEveryMs);
            const auto into = (now - loop.epoch) % every;
            if (into < std::chrono::milliseconds(faults.holdForMs)) {
                holding = true;
                holdEnds = now - into + std::chrono::milliseconds(faults.holdForMs);
            }
        }
        const bool moving = faults.forwarding && !holding;

        // Token bucket for the client → server direction, a twentieth of a second deep.
        const double rateBytes = static_cast<double>(faults.rateBitsPerSecond) / 8.0;
        if (rateBytes > 0) {
            const double burst = std::max(1500.0, rateBytes / 20.0);
            loop.tokens = std::min(
                burst, loop.tokens + rateBytes * std::chrono::duration<double>(now - loop.refilled).count());
        }
        loop.refilled = now;

        Clock::time_point nextWake = now + std::chrono::milliseconds(200);
        auto sendSide = [&](Direction& d, int out, bool limited, std::atomic<long long>& counter) -> bool {
            if (d.outShut) {  // the receiving side is gone: what still comes is dropped
                d.queue.clear();
                d.queued = 0;
                return true;
            }
            while (moving && !d.queue.empty() && d.queue.front().due <= now) {
                Chunk& chunk = d.queue.front();
                std::size_t n = chunk.bytes.size() - chunk.sent;
                if (limited && rateBytes > 0) {
                    n = std::min<std::size_t>(n, static_cast<std::size_t>(loop.tokens));
                    if (n == 0) {
                        nextWake = std::min(nextWake, now + std::chrono::milliseconds(
                                                          1 + static_cast<int>(1000.0 * 1500.0 / rateBytes / 4)));
                        return true;
                    }
                }
                const ssize_t sent = ::send(out, chunk.bytes.data() + chunk.sent, n, MSG_NOSIGNAL | MSG_DONTWAIT);
                if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
                chunk.sent += static_cast<std::size_t>(sent);
                d.queued -= static_cast<std::size_t>(sent);
                counter += sent;
                if (limited && rateBytes > 0) loop.tokens -= static_cast<double>(sent);
                if (chunk.sent == chunk.bytes.size()) d.queue.pop_front();
                else if (static_cast<std::size_t>(sent) < n) return true;  // the socket is full
            }
            if (d.queue.empty() && d.inEnded && !d.outShut) {
                ::shutdown(out, SHUT_WR);
                d.outShut = true;
            }
            if (!d.queue.empty()) {
                if (!faults.forwarding) return true;  // woken by the switch
                nextWake = std::min(nextWake, holding ? holdEnds : d.queue.front().due);
            }
            return true;
        };
        for (auto& c : loop.connections) {
            // A server that fails ends the connection; a client that went away still has what
            // it sent before delivered.
            if (!sendSide(c.up, c.server.get(), true, bytesUp_)) c.broken = true;
            if (!c.broken && !sendSide(c.down, c.client.get(), false, bytesDown_)) {
                c.down.outShut = c.down.inEnded = true;
                c.down.queue.clear();
                c.down.queued = 0;
            }
        }
        for (auto it = loop.connections.begin(); it != loop.connections.end();) {
            if (it->broken || it->Finished()) {
                if (it->broken) {
                    it->client.Abort();
                    it->server.Abort();
                }
                it = loop.connections.erase(it);
                --open_;
            } else {
                ++it;
            }
        }

        // Poll: the listener, the wake-up, and each socket for what it is waiting for.
        std::vector<pollfd> fds;
        fds.push_back({listenFd_, POLLIN, 0});
        fds.push_back({wakeFd_, POLLIN, 0});
        auto wants = [&](const Direction& d) { return faults.forwarding && !d.inEnded && d.queued < kMaxQueued; };
        auto blocked = [&](const Direction& d) {
            return moving && !d.queue.empty() && d.queue.front().due <= now;
        };
        for (auto& c : loop.connections) {
            short clientEvents = 0, serverEvents = 0;
            if (wants(c.up)) clientEvents |= POLLIN;
            if (wants(c.down)) serverEvents |= POLLIN;
            if (blocked(c.up) && !(rateBytes > 0 && loop.tokens < 1)) serverEvents |= POLLOUT;
            if (blocked(c.down)) clientEvents |= POLLOUT;
            fds.push_back({c.client.get(), clientEvents, 0});
            fds.push_back({c.server.get(), serverEvents, 0});
        }
        const auto waitMs = std::chrono::duration_cast<std::chrono::milliseconds>(nextWake - now).count();
        ::poll(fds.data(), fds.size(), static_cast<int>(std::clamp<long long>(waitMs, 1, 200)));
        if (quit_) break;

        if (fds[1].revents & POLLIN) {
            uint64_t value = 0;
            [[maybe_unused]] const ssize_t n = ::read(wakeFd_, &value, sizeof value);
        }

        // Data in: each chunk is due after the delay with its jitter, never before the one
        // read before it.
        const auto readAt = Clock::now();
        std::size_t i = 2;
        for (auto& c : loop.connections) {
            const short clientRevents = fds[i++].revents;
            const short serverRevents = fds[i++].revents;
            // A read error from the client ends what it sends; one from the server, everything.
            auto readSide = [&](Direction& d, int in, short revents, bool fromServer) {
                if (revents & POLLERR) {  // reset: reported even while the side is not read
                    if (fromServer) c.broken = true;
                    d.inEnded = true;
                    c.down.outShut = c.down.inEnded = true;
                    return;
                }
                if (!(revents & (POLLIN | POLLHUP)) || !wants(d)) return;
                Chunk chunk;
                chunk.bytes.resize(std::min(kReadBytes, kMaxQueued - d.queued));
                const ssize_t n = ::recv(in, chunk.bytes.data(), chunk.bytes.size(), MSG_DONTWAIT);
                if (n == 0) {
                    d.inEnded = true;
                    return;
                }
                if (n < 0) {
                    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
                    if (fromServer) c.broken = true;
                    d.inEnded = true;
                    c.down.outShut = c.down.inEnded = true;
                    return;
                }
                chunk.bytes.resize(static_cast<std::size_t>(n));
                int jitter = 0;
                if (faults.jitterMs > 0)
                    jitter = std::uniform_int_distribution<int>(-faults.jitterMs, faults.jitterMs)(loop.random);
                chunk.due = std::max(readAt + std::chrono::milliseconds(faults.delayMs + jitter), d.lastDue);
                d.lastDue = chunk.due;
                d.queued += static_cast<std::size_t>(n);
                d.queue.push_back(std::move(chunk));
            };
            readSide(c.up, c.client.get(), clientRevents, false);
            readSide(c.down, c.server.get(), serverRevents, true);
        }

        // New connections.
        if (fds[0].revents & POLLIN) {
            for (;;) {
                Fd client(::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC));
                if (client.get() < 0) break;
                if (faults.refuse) {
                    client.Abort();
                    ++refused_;
                    continue;
                }
                Fd server(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
                SmallBuffers(server.get());
                // A loopback connection is made or refused at once.
                if (::connect(server.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
                    client.Abort();
                    ++refused_;
                    continue;
                }
                SmallBuffers(client.get());
                NonBlocking(client.get());
                NonBlocking(server.get());
                Connection c;
                c.client = std::move(client);
                c.server = std::move(server);
                loop.connections.push_back(std::move(c));
                ++accepted_;
                ++open_;
            }
        }
    }
    for (auto& c : loop.connections) {
        c.client.Abort();
        c.server.Abort();
    }
    open_ = 0;
}
