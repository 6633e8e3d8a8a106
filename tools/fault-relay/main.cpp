// strimo-fault-relay: a bad network between a broadcaster and its streaming server, for trying
// the programs by hand. It listens on a loopback port, forwards to a loopback address, and
// takes its faults as lines on standard input:
//   delay MS [JITTER_MS]     hold EVERY_MS FOR_MS     rate BITS_PER_S (0: none)
//   stop | resume            cut                       refuse on|off
//   clear                    stats                     quit
// Example: strimo-fault-relay --listen 11936 --to 127.0.0.1:11935, then publish to port 11936.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>

#include "FaultRelay.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: strimo-fault-relay [--listen PORT] --to 127.x.y.z:PORT\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    int listen = 0;
    std::string host;
    int port = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--listen" && i + 1 < argc) {
            listen = std::atoi(argv[++i]);
        } else if (arg == "--to" && i + 1 < argc) {
            const std::string to = argv[++i];
            const auto colon = to.rfind(':');
            if (colon == std::string::npos) return Usage();
            host = to.substr(0, colon);
            port = std::atoi(to.c_str() + colon + 1);
        } else {
            return Usage();
        }
    }
    if (host.empty() || port <= 0 || port > 65535 || listen < 0 || listen > 65535) return Usage();
    FaultRelay relay(host, port, listen);
    if (!relay.Start()) {
        std::fprintf(stderr, "strimo-fault-relay: %s\n", relay.Error().c_str());
        return 1;
    }
    std::printf("listening on 127.0.0.1:%d, forwarding to %s:%d\n", relay.Port(), host.c_str(), port);
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string command;
        in >> command;
        long a = 0, b = 0;
        if (command == "delay" && in >> a) {
            if (!(in >> b)) b = 0;
            relay.SetDelay(static_cast<int>(a), static_cast<int>(b));
        } else if (command == "hold" && in >> a >> b) {
            relay.SetHoldBack(static_cast<int>(a), static_cast<int>(b));
        } else if (command == "rate" && in >> a) {
            relay.SetRate(a);
        } else if (command == "stop" || command == "resume") {
            relay.SetForwarding(command == "resume");
        } else if (command == "cut") {
            relay.CutConnections();
        } else if (command == "refuse") {
            std::string on;
            in >> on;
            relay.SetRefuse(on == "on");
        } else if (command == "clear") {
            relay.Clear();
        } else if (command == "quit") {
            break;
        } else if (command != "stats" && !command.empty()) {
            std::printf("unknown command: %s\n", line.c_str());
            std::fflush(stdout);
            continue;
        }
        const FaultRelay::Faults f = relay.Current();
        std::printf("delay %d±%d ms, hold %d ms every %d ms, rate %ld bit/s, %s%s; connections %d open, %d accepted, "
                    "%d refused; %lld bytes to the server, %lld to the client\n",
                    f.delayMs, f.jitterMs, f.holdForMs, f.holdEveryMs, f.rateBitsPerSecond,
                    f.forwarding ? "forwarding" : "stopped", f.refuse ? ", refusing" : "", relay.OpenConnections(),
                    relay.Accepted(), relay.Refused(), relay.BytesToServer(), relay.BytesToClient());
        std::fflush(stdout);
    }
    return 0;
}
