#pragma once

// Runs a shell command and captures what it writes on its standard output.

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace testsupport {

struct Captured {
    int status = -1;  // the exit status; -1 when it did not run or did not exit
    std::string out;
};

inline Captured CaptureRun(const std::string& command) {
    Captured run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return run;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
    const int raw = ::pclose(pipe);
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

inline std::string Capture(const std::string& command) { return CaptureRun(command).out; }

}  // namespace testsupport
