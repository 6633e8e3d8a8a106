#pragma once

// A private nginx with the RTMP module on a free loopback port, configured from the service's
// own template (service/nginx/nginx.conf.in) without the service: the publish callbacks and the
// viewers' rendition are commented out, and every published stream is recorded to
// <dir>/rec/<name>.flv and kept. The control module answers on a socket of its own. Started and
// stopped by the tests themselves.

#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "LoopbackPorts.h"
#include "RunProgram.h"
#include "TempDir.h"
#include "WaitFor.h"

extern char** environ;

namespace testsupport {

class NginxRtmpServer {
public:
    // Without `record`, nothing is written (long runs).
    explicit NginxRtmpServer(bool record = true) : rtmpPort_(FreeLoopbackPort()) {
        namespace fs = std::filesystem;
        for (const char* sub : {"conf", "logs", "temp", "rec", "hls"}) fs::create_directories(dir_.path() / sub);
        const std::string d = dir_.path().string();
        // nginx notes each closed recording here: a test reads a recording once it is complete.
        const std::string recordDone = d + "/record-done.sh";
        WriteFile(recordDone, "#!/bin/sh\necho >>\"$1.closed\"\n");
        ::chmod(recordDone.c_str(), 0755);
        const std::string listen = "127.0.0.1:" + std::to_string(rtmpPort_);
        const std::map<std::string, std::string> values = {
            // As root the workers must stay root, or recording fails without a word.
            {"USER_LINE", ::geteuid() == 0 ? "user root;" : ""},
            {"PREFIX", d},
            {"RTMP_LISTEN", listen},
            {"RTMP_LOCAL", listen},
            {"APP", "live"},
            {"HLS_APP", "hls"},
            {"HLS_DIR", d + "/hls"},
            {"RENDITION_FROM", "127.0.0.1"},
            {"RECORD", record ? "all" : "off"},
            {"RECORD_DIR", d + "/rec"},
            {"RECORD_DONE", recordDone},
            {"CONTROL_SOCKET", ControlSocket()},
            // No service to ask about publishes, no rendition for viewers.
            {"SERVICE", "# "},
            {"CALLBACK", "http://127.0.0.1:1"},
            {"RENDITION", "/bin/false"},
            {"FFMPEG", "ffmpeg"},
        };
        WriteFile(d + "/conf/nginx.conf", Render(ReadFile(STRIMO_NGINX_TEMPLATE), values));
    }

    ~NginxRtmpServer() { Stop(); }
    NginxRtmpServer(const NginxRtmpServer&) = delete;
    NginxRtmpServer& operator=(const NginxRtmpServer&) = delete;

    bool Start() {
        std::vector<std::string> argv = {"nginx", "-p", dir_.path().string() + "/", "-c", "conf/nginx.conf", "-g",
                                         "daemon off;"};
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawnp(&pid_, "nginx", nullptr, nullptr, args.data(), environ) != 0) return false;
        return WaitFor([&] { return PortAccepts(rtmpPort_) && !Control("GET / HTTP/1.0\r\n\r\n").empty(); },
                       std::chrono::seconds(5), std::chrono::milliseconds(20));
    }

    void Stop() {
        if (pid_ <= 0) return;
        RunProgram({"nginx", "-p", dir_.path().string() + "/", "-c", "conf/nginx.conf", "-s", "stop"});
        int status = 0;
        if (!WaitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(5),
                     std::chrono::milliseconds(20))) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = 0;
    }

    // Freezes or thaws every nginx process of this server (master and its workers).
    void Signal(int sig) {
        if (pid_ <= 0) return;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string pidName = entry.path().filename().string();
            if (pidName.find_first_not_of("0123456789") != std::string::npos) continue;
            const std::string stat = ReadFile(entry.path().string() + "/stat");
            const auto close = stat.rfind(')');
            if (close == std::string::npos) continue;
            int ppid = 0;
            char state = 0;
            if (std::sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == pid_)
                ::kill(std::stoi(pidName), sig);
        }
        ::kill(pid_, sig);
    }

    // Asks the control module to drop the publisher of `name`; returns the answer's body.
    std::string DropPublisher(const std::string& name) {
        const std::string reply =
            Control("GET /control/drop/publisher?app=live&name=" + name + " HTTP/1.0\r\nHost: localhost\r\n\r\n");
        const auto body = reply.find("\r\n\r\n");
        return body == std::string::npos ? std::string() : reply.substr(body + 4);
    }

    std::string Url(const std::string& name) const {
        return "rtmp://127.0.0.1:" + std::to_string(rtmpPort_) + "/live/" + name;
    }
    std::string Recording(const std::string& name) const { return dir_ / ("rec/" + name + ".flv"); }
    // How many recordings of `name` nginx has closed (each publish of it makes one).
    int RecordingsClosed(const std::string& name) const {
        const std::string notes = ReadFile(Recording(name) + ".closed");
        return static_cast<int>(std::count(notes.begin(), notes.end(), '\n'));
    }
    // Waits until nginx has closed its `count`th recording of `name`: the file is complete.
    bool WaitRecordingClosed(const std::string& name, int count = 1,
                             std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
        return WaitFor([&] { return RecordingsClosed(name) >= count; }, limit, std::chrono::milliseconds(10));
    }
    std::string ErrorLog() const { return ReadFile(dir_ / "logs/error.log"); }
    int RtmpPort() const { return rtmpPort_; }

private:
    std::string ControlSocket() const { return dir_ / "control.sock"; }

    // Sends `request` to the control socket; the whole answer, empty when none came.
    std::string Control(const std::string& request) const {
        const std::string path = ControlSocket();
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof addr.sun_path) return {};
        std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        std::string reply;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
            ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[1024];
            ssize_t n;
            while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, static_cast<size_t>(n));
        }
        ::close(fd);
        return reply;
    }

    // Fills in every @NAME@ of the template; one without a value is a template the tests have not
    // caught up with.
    static std::string Render(std::string text, const std::map<std::string, std::string>& values) {
        for (const auto& [name, value] : values) {
            const std::string mark = "@" + name + "@";
            for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at + value.size()))
                text.replace(at, mark.size(), value);
        }
        const auto left = text.find('@');
        if (left != std::string::npos)
            throw std::runtime_error("nginx.conf.in: no value for " + text.substr(left, text.find('@', left + 1) - left + 1));
        return text;
    }

    TempDir dir_;
    int rtmpPort_ = 0;
    pid_t pid_ = 0;
};

}  // namespace testsupport
