#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "PostgresDatabase.h"

// The options that put a service's database in the private PostgreSQL cluster of
// tests/fixtures/with-postgres.sh when the tests run there (STRIMO_TEST_SERVICE_STORE=postgresql):
// one database per data folder, made at its first use and kept for the cluster's life, so a
// restarted service finds what it wrote. Else none: the SQLite file in the data folder.
inline std::vector<std::string> TestDatabaseArgs(const std::string& dataDir)
{
    const char* store = std::getenv("STRIMO_TEST_SERVICE_STORE");
    if (!store || std::string(store) != "postgresql") return {};
    static std::mutex mutex;
    static std::map<std::string, std::unique_ptr<testsupport::PostgresDatabase>> databases;
    std::lock_guard lock(mutex);
    auto& database = databases[dataDir];
    if (!database) database = std::make_unique<testsupport::PostgresDatabase>();
    return {"--database", database->Url()};
}

inline std::string TestDatabaseOption(const std::string& dataDir)
{
    std::string option;
    for (const auto& arg : TestDatabaseArgs(dataDir)) option += " '" + arg + "'";
    return option;
}

// A real strimo-service process for a test: started on a free loopback port with a data folder
// of the test's, stopped with SIGTERM as an operator would.
class ServiceProcess {
public:
    ServiceProcess(const std::string& binary, const std::string& dataDir, std::vector<std::string> extra = {})
    {
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        std::vector<std::string> args = {binary, "serve", "--port", "0", "--data", dataDir};
        args.insert(args.end(), extra.begin(), extra.end());
        if (std::find(extra.begin(), extra.end(), "--database") == extra.end()) {
            const auto database = TestDatabaseArgs(dataDir);
            args.insert(args.end(), database.begin(), database.end());
        }
        pid_ = fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            close(out[0]);
            close(out[1]);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(binary.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        // The first line says where it listens: "strimo-service: listening on http://H:P/ ...".
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
        close(out[0]);
        const size_t colon = line.rfind(':', line.find("/ "));
        if (line.find("listening on") == std::string::npos || colon == std::string::npos) {
            Stop();
            throw std::runtime_error("service did not start: " + line);
        }
        port_ = std::stoi(line.substr(colon + 1));
    }
    ~ServiceProcess() { Stop(); }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return port_; }
    bool Running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

    // SIGTERM, then the exit status: -1 when it did not exit normally, -2 when it was still
    // running 10 s later (it is then killed, so a lost stop fails the test instead of hanging it).
    int Stop()
    {
        if (pid_ <= 0) return status_;
        // A process descriptor becomes readable when the process ends: the wait is for that, with
        // a limit, and no polling.
        const int exited = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
        kill(pid_, SIGTERM);
        pollfd ended{exited, POLLIN, 0};
        const bool inTime = exited < 0 || poll(&ended, 1, 10000) == 1;
        if (exited >= 0) close(exited);
        int status = 0;
        if (!inTime) kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        if (!inTime) return status_ = -2;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }

private:
    pid_t pid_ = -1;
    int port_ = 0;
    int status_ = -1;
};

// Sends `request` as it stands from local address `from` and returns everything the server
// answers until it closes. Empty when the connection fails. `halfClose` ends the sending side
// at once, for requests the server would otherwise wait on.
inline std::string RawHttp(const std::string& from, int port, const std::string& request, bool halfClose = false)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return {};
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &remote.sin_addr);
    std::string response;
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&remote), sizeof remote) == 0) {
        size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += static_cast<size_t>(n);
        }
        if (halfClose) shutdown(fd, SHUT_WR);
        char buffer[4096];
        ssize_t n;
        while ((n = recv(fd, buffer, sizeof buffer, 0)) > 0) response.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return response;
}
