#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

// A TCP relay on loopback that puts a bad network between a client and a server: it delays the
// data (with jitter), holds it back now and then for a moment (what a connection shows while
// lost packets are resent), limits the rate from client to server, stops forwarding for a
// while, cuts every connection, or refuses new ones. Each fault is switched on and off at any
// moment from any thread while connections run. The relay keeps only a small buffer of its own
// and small socket buffers, so a slow or stopped link pushes back on the client as a real one
// does.
//
// The relay forwards only to loopback addresses.
class FaultRelay {
public:
    struct Faults {
        int delayMs = 0;        // added to every byte, both ways
        int jitterMs = 0;       // ± this much on top of the delay (order is kept)
        int holdEveryMs = 0;    // every this many ms ...
        int holdForMs = 0;      // ... nothing moves for this long
        long rateBitsPerSecond = 0;  // client → server; 0: unlimited
        bool forwarding = true;      // false: nothing is read or sent, connections stay open
        bool refuse = false;         // new connections are accepted and closed at once
    };

    // Forwards to `targetHost` (an IPv4 loopback address) : `targetPort`, listening on
    // 127.0.0.1:`listenPort` (0: a free port).
    FaultRelay(std::string targetHost, int targetPort, int listenPort = 0);
    ~FaultRelay();
    FaultRelay(const FaultRelay&) = delete;
    FaultRelay& operator=(const FaultRelay&) = delete;

    // Binds and starts the relay's thread. False (with Error()) when it cannot.
    bool Start();
    void Stop();
    int Port() const { return port_; }
    const std::string& Error() const { return error_; }

    Faults Current() const;
    void Set(const Faults& faults);
    void SetDelay(int ms, int jitterMs);
    void SetHoldBack(int everyMs, int forMs);
    void SetRate(long bitsPerSecond);
    void SetForwarding(bool on);
    void SetRefuse(bool on);
    void Clear() { Set(Faults{}); }
    // Resets both sides of every open connection.
    void CutConnections();

    // Connections accepted and forwarded since Start (refused ones not counted).
    int Accepted() const { return accepted_.load(); }
    int Refused() const { return refused_.load(); }
    int OpenConnections() const { return open_.load(); }
    long long BytesToServer() const { return bytesUp_.load(); }
    long long BytesToClient() const { return bytesDown_.load(); }

private:
    struct Loop;
    void Run();
    void Wake();

    std::string targetHost_;
    int targetPort_;
    int port_;
    std::string error_;
    int listenFd_ = -1;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::atomic<int> cuts_{0};

    mutable std::mutex mutex_;
    Faults faults_;

    std::atomic<int> accepted_{0};
    std::atomic<int> refused_{0};
    std::atomic<int> open_{0};
    std::atomic<long long> bytesUp_{0};
    std::atomic<long long> bytesDown_{0};
};
