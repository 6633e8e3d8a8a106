#include "ProcessList.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <limits.h>
#include <unistd.h>

namespace proc {
namespace {

constexpr std::string_view kDeleted = " (deleted)";
constexpr std::string_view kMemoryFile = "/memfd:";

std::string_view AfterLast(std::string_view text, std::string_view separators) {
    const auto at = text.find_last_of(separators);
    return at == std::string_view::npos ? text : text.substr(at + 1);
}

// Up to `limit` bytes of a /proc file; empty when it cannot be read.
std::string ReadProcFile(const std::string& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::string bytes(limit, '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(limit));
    bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
    return bytes;
}

// The real user of `pid` (the first "Uid:" field of its status), or -1.
long RealUserOf(int pid) {
    const std::string status = ReadProcFile("/proc/" + std::to_string(pid) + "/status", 4096);
    const auto at = status.find("\nUid:");
    if (at == std::string::npos) return -1;
    char* end = nullptr;
    const long uid = std::strtol(status.c_str() + at + 5, &end, 10);
    return end == status.c_str() + at + 5 ? -1 : uid;
}

}  // namespace

bool IsWineLoader(std::string_view baseName) {
    constexpr std::array<std::string_view, 4> kLoaders = {"wine", "wine64", "wine-preloader", "wine64-preloader"};
    return std::find(kLoaders.begin(), kLoaders.end(), baseName) != kLoaders.end();
}

std::optional<std::string> ProgramName(std::string_view executable, std::string_view commandLine,
                                       std::string_view comm) {
    if (executable.starts_with(kMemoryFile)) return std::nullopt;
    // An executable replaced or removed while it runs (an update) still names the program.
    if (executable.ends_with(kDeleted)) executable.remove_suffix(kDeleted.size());
    const std::string_view base = AfterLast(executable, "/");
    if (base.empty()) return std::nullopt;
    if (!IsWineLoader(base)) return std::string(base);

    // Wine rewrites the command line of each Windows process to the module's own path (a
    // Windows path such as C:\windows\system32\services.exe, or the Unix path it was started
    // with), while comm holds only its first 15 bytes.
    while (!commandLine.empty()) {
        const auto end = commandLine.find('\0');
        const std::string_view argument = commandLine.substr(0, end);
        const std::string_view module = AfterLast(argument, "\\/");
        if (!module.empty() && !IsWineLoader(module)) return std::string(module);
        if (module.empty() || end == std::string_view::npos) break;
        commandLine.remove_prefix(end + 1);
    }
    while (!comm.empty() && comm.back() == '\n') comm.remove_suffix(1);
    if (comm.empty()) return std::string(base);
    return std::string(comm);
}

unsigned long long StartTimeFromStat(std::string_view stat) {
    const auto close = stat.rfind(')');
    if (close == std::string_view::npos) return 0;
    std::string_view rest = stat.substr(close + 1);
    // After the name: the state (field 3) first, the start time (field 22) nineteen fields on.
    for (int field = 3; field < 22; ++field) {
        const auto start = rest.find_first_not_of(' ');
        if (start == std::string_view::npos) return 0;
        const auto end = rest.find(' ', start);
        if (end == std::string_view::npos) return 0;
        rest.remove_prefix(end);
    }
    const auto start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return 0;
    unsigned long long value = 0;
    bool any = false;
    for (std::size_t i = start; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(rest[i] - '0');
        any = true;
    }
    return any ? value : 0;
}

unsigned long long StartTimeOf(int pid) {
    return StartTimeFromStat(ReadProcFile("/proc/" + std::to_string(pid) + "/stat", 4096));
}

std::optional<std::string> ProgramNameOf(int pid) {
    const std::string entry = "/proc/" + std::to_string(pid);
    char target[PATH_MAX];
    const ssize_t n = ::readlink((entry + "/exe").c_str(), target, sizeof target - 1);
    if (n <= 0) return std::nullopt;
    const std::string_view executable(target, static_cast<std::size_t>(n));
    if (!IsWineLoader(AfterLast(executable, "/"))) return ProgramName(executable, {}, {});
    // Windows paths may be long; the module is in the first few arguments.
    return ProgramName(executable, ReadProcFile(entry + "/cmdline", 65536), ReadProcFile(entry + "/comm", 64));
}

std::vector<ProcessEntry> ListProcesses() {
    std::vector<ProcessEntry> processes;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || !std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int pid = std::atoi(name.c_str());
        if (auto program = ProgramNameOf(pid)) processes.push_back({pid, std::move(*program), StartTimeOf(pid)});
    }
    std::sort(processes.begin(), processes.end(), [](const auto& a, const auto& b) { return a.pid < b.pid; });
    return processes;
}

std::vector<ProcessEntry> ListOwnProcesses() {
    std::vector<ProcessEntry> processes = ListProcesses();
    const long self = static_cast<long>(::getuid());
    std::erase_if(processes, [self](const ProcessEntry& p) { return RealUserOf(p.pid) != self; });
    return processes;
}

}  // namespace proc
