#pragma once

// A program (found on PATH) running beside the test, ended with SIGTERM when the object goes.

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

extern char** environ;

namespace testsupport {

class ChildProcess {
public:
    explicit ChildProcess(std::vector<std::string> argv) {
        std::vector<char*> args;
        for (auto& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        if (::posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = 0;
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Whether it could be started.
    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    bool Running() const {
        if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = 0;  // ended, and reaped now
        return pid_ > 0;
    }

    // Ends it with SIGTERM and waits for it; harmless when it has ended already.
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = 0;
    }

private:
    mutable pid_t pid_ = 0;
};

}  // namespace testsupport
