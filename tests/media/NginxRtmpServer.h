#pragma once

// A private nginx with the RTMP module on free loopback ports, recording every published
// stream to <dir>/rec/<name>.flv, with the control module on an HTTP port. Started and stopped
// by the tests themselves.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPorts.h"
#include "TempDir.h"

extern char** environ;

namespace testsupport {

// Runs a program and waits for it; returns its exit status (-1 when it could not run).
inline int RunProgram(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return -1;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs a shell command and returns its standard output.
inline std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

class NginxRtmpServer {
public:
    // Without `record`, nothing is written (long runs).
    explicit NginxRtmpServer(bool record = true) {
        std::filesystem::create_directories(dir_.path() / "conf");
        std::filesystem::create_directories(dir_.path() / "logs");
        std::filesystem::create_directories(dir_.path() / "tmp");
        std::filesystem::create_directories(dir_.path() / "rec");
        rtmpPort_ = FreeLoopbackPort();
        httpPort_ = FreeLoopbackPort();
        const std::string d = dir_.path().string();
        std::ofstream conf(dir_.path() / "conf" / "nginx.conf");
        // The module path must be absolute (a relative one resolves against the prefix); as
        // root the workers must stay root, or recording fails without a word.
        conf << "load_module /usr/lib/nginx/modules/ngx_rtmp_module.so;\n";
        if (::geteuid() == 0) conf << "user root;\n";
        conf << "worker_processes 1;\n"
             << "pid " << d << "/logs/nginx.pid;\n"
             << "error_log " << d << "/logs/error.log;\n"
             << "events { worker_connections 64; }\n"
             << "rtmp {\n  server {\n    listen 127.0.0.1:" << rtmpPort_ << ";\n"
             << "    application live {\n      live on;\n      record " << (record ? "all" : "off") << ";\n"
             << "      record_path " << d << "/rec;\n      record_unique off;\n    }\n  }\n}\n"
             << "http {\n  access_log " << d << "/logs/access.log;\n"
             << "  client_body_temp_path " << d << "/tmp/body;\n"
             << "  proxy_temp_path " << d << "/tmp/proxy;\n"
             << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n"
             << "  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
             << "  scgi_temp_path " << d << "/tmp/scgi;\n"
             << "  server {\n    listen 127.0.0.1:" << httpPort_ << ";\n"
             << "    location /control { rtmp_control all; }\n  }\n}\n";
    }

    ~NginxRtmpServer() { Stop(); }

    bool Start() {
        std::vector<std::string> argv = {"nginx", "-p", dir_.path().string() + "/", "-c", "conf/nginx.conf", "-g",
                                         "daemon off;"};
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawnp(&pid_, "nginx", nullptr, nullptr, args.data(), environ) != 0) return false;
        for (int i = 0; i < 100; ++i) {
            if (PortAccepts(rtmpPort_) && PortAccepts(httpPort_)) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    void Stop() {
        if (pid_ <= 0) return;
        RunProgram({"nginx", "-p", dir_.path().string() + "/", "-c", "conf/nginx.conf", "-s", "stop"});
        int status = 0;
        for (int i = 0; i < 100; ++i) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &status, 0);
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
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(httpPort_));
        std::string reply;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            const std::string request = "GET /control/drop/publisher?app=live&name=" + name +
                                        " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
            if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
                char buffer[1024];
                ssize_t n;
                while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, static_cast<size_t>(n));
            }
        }
        ::close(fd);
        const auto body = reply.find("\r\n\r\n");
        return body == std::string::npos ? std::string() : reply.substr(body + 4);
    }

    std::string Url(const std::string& name) const {
        return "rtmp://127.0.0.1:" + std::to_string(rtmpPort_) + "/live/" + name;
    }
    std::string Recording(const std::string& name) const { return dir_ / ("rec/" + name + ".flv"); }
    std::string ErrorLog() const { return ReadFile(dir_ / "logs/error.log"); }
    int RtmpPort() const { return rtmpPort_; }

private:
    TempDir dir_;
    int rtmpPort_ = 0;
    int httpPort_ = 0;
    pid_t pid_ = 0;
};

}  // namespace testsupport
