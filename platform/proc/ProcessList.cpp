#include "ProcessList.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include <limits.h>
#include <unistd.h>

namespace proc {

std::optional<std::string> ExecutableBaseName(int pid) {
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return std::nullopt;
    std::string path(target, static_cast<std::size_t>(n));
    // An executable replaced or removed while it runs (an update) still names the program.
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.resize(path.size() - kDeleted.size());
    const auto slash = path.rfind('/');
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) return std::nullopt;
    return base;
}

std::vector<ProcessEntry> ListProcesses() {
    std::vector<ProcessEntry> processes;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int pid = std::atoi(name.c_str());
        if (auto base = ExecutableBaseName(pid)) processes.push_back({pid, std::move(*base)});
    }
    std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return processes;
}

}  // namespace proc
