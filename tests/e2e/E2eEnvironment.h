#pragma once
// What every end-to-end test stands on: the reference service and nginx on free loopback ports
// with a private data folder (scripts/service.sh), an installation directory copy whose
// config.xml points at them, and the sample game's window on this test's display. Broadcasters
// reach nginx through a relay of ours, which passes everything on until a test makes it play a
// bad network.

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "Capture.h"
#include "FaultRelay.h"
#include "LoopbackPorts.h"
#include "TempDir.h"
#include "WaitFor.h"

namespace e2e {

namespace fs = std::filesystem;
using testsupport::Capture;
using testsupport::FreeLoopbackPort;


inline int Run(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}


inline std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

class Environment {
public:
    Environment() : httpPort_(FreeLoopbackPort()), rtmpPort_(FreeLoopbackPort()), relay_("127.0.0.1", rtmpPort_) {}

    // Starts both servers and fills the installation copy. False with `why` on failure.
    bool Start(std::string& why) {
        data_ = (dir_.path() / "data").string();
        inst_ = (dir_.path() / "installation").string();
        if (!relay_.Start()) {
            why = relay_.Error();
            return false;
        }
        const std::string out = Capture(Script() + " start --data '" + data_ + "' --port " + std::to_string(httpPort_) +
                                        " --rtmp-port " + std::to_string(rtmpPort_) + " --publish-port " +
                                        std::to_string(relay_.Port()) + " --build '" STRIMO_BUILD_DIR
                                        "' 2>&1; echo rc=$?");
        if (out.find("rc=0") == std::string::npos) {
            why = out;
            return false;
        }
        started_ = true;
        fs::create_directories(fs::path(inst_) / "default");
        const fs::path built = STRIMO_BUILD_DIR "/installation";
        fs::copy(built / "res", fs::path(inst_) / "res", fs::copy_options::recursive);
        fs::copy_file(built / "default" / "usr.xml", fs::path(inst_) / "default" / "usr.xml");
        std::ifstream plain(STRIMO_BUILD_DIR "/dist/config.xml");
        std::stringstream text;
        text << plain.rdbuf();
        const std::string config = Replace(text.str(), STRIMO_DEFAULT_SERVICE_URL, ServiceUrl());
        const fs::path plainCopy = dir_.path() / "config.plain.xml";
        std::ofstream(plainCopy) << config;
        if (Run(Crypt() + " encrypt '" + plainCopy.string() + "' '" + inst_ + "/default/config.xml'") != 0) {
            why = "strimo-crypt encrypt failed";
            return false;
        }
        return true;
    }

    ~Environment() {
        if (started_) Run(Script() + " stop --data '" + data_ + "' >/dev/null 2>&1");
    }

    std::string ServiceUrl() const { return "http://127.0.0.1:" + std::to_string(httpPort_); }
    int RtmpPort() const { return rtmpPort_; }
    FaultRelay& Relay() { return relay_; }
    const std::string& Data() const { return data_; }
    const std::string& Installation() const { return inst_; }
    std::string NginxPidFile() const { return data_ + "/nginx/nginx.pid"; }
    static std::string Script() { return STRIMO_SOURCE_DIR "/scripts/service.sh"; }
    static std::string Crypt() { return STRIMO_BUILD_DIR "/installation/strimo-crypt"; }
    static std::string SampleGame() { return STRIMO_BUILD_DIR "/installation/strimo-sample-game"; }

    // One value of the rooms table.
    std::string RoomColumn(const std::string& lid, const std::string& column) const {
        std::string out = Capture("sqlite3 '" + data_ + "/strimo.db' \"SELECT " + column +
                                  " FROM rooms WHERE lid = " + lid + "\" 2>/dev/null");
        while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
        return out;
    }
    // nginx's statistics (XML) from its control socket.
    std::string NginxStat() const {
        return Capture("curl -s --max-time 5 --unix-socket '" + data_ + "/nginx/control.sock' http://localhost/stat");
    }
    int RoomCount() const {
        return std::atoi(Capture("sqlite3 '" + data_ + "/strimo.db' 'SELECT COUNT(*) FROM rooms' 2>/dev/null").c_str());
    }

    // Stops nginx as a crash would (its workers too), and brings it back.
    // nginx runs in a session of its own (service.sh), so its process group is its master's id.
    void KillNginx() const { Run("bash -c 'kill -KILL -- -$(cat \"" + NginxPidFile() + "\")'"); }
    bool RestartNginx() const {
        const std::string prefix = data_ + "/nginx";
        Run("rm -f '" + prefix + "/control.sock' '" + NginxPidFile() + "'");
        Run("cd '" + prefix + "' && setsid nginx -p '" + prefix +
            "' -c conf/nginx.conf -g 'daemon off;' >>'" + prefix + "/logs/stdout.log' 2>&1 &");
        return testsupport::WaitFor([this] { return testsupport::PortAccepts(rtmpPort_); }, std::chrono::seconds(10),
                                    std::chrono::milliseconds(50));
    }

private:
    testsupport::TempDir dir_;
    int httpPort_;
    int rtmpPort_;
    FaultRelay relay_;
    std::string data_;
    std::string inst_;
    bool started_ = false;
};

}  // namespace e2e
