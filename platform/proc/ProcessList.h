#pragma once

#include <optional>
#include <string>
#include <vector>

namespace proc {

struct ProcessEntry {
    int pid = 0;
    std::string name;  // base name of the executable, as the file system spells it
};

// Every process under /proc whose executable link can be read, in ascending process id order.
// Kernel threads and processes of other users that the caller may not inspect are left out.
std::vector<ProcessEntry> ListProcesses();

// The base name of the executable of `pid`; nullopt when it cannot be read.
std::optional<std::string> ExecutableBaseName(int pid);

}  // namespace proc
