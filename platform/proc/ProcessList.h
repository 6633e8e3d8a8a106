#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace proc {

struct ProcessEntry {
    int pid = 0;
    std::string name;  // the program's name (ProgramName), as the file system or Windows spells it
    // When it started, in the kernel's clock ticks since boot: a process is younger than the
    // one that started it.
    unsigned long long started = 0;
};

// Every process under /proc whose executable link can be read, in ascending process id order.
// Kernel threads and processes of other users that the caller may not inspect are left out.
std::vector<ProcessEntry> ListProcesses();

// ListProcesses() narrowed to the processes whose real user is the caller's: another member's
// session on the same computer is not this member's game, even where it can be seen.
std::vector<ProcessEntry> ListOwnProcesses();

// When `pid` started (field 22 of /proc/PID/stat, clock ticks since boot); 0 when it cannot be read.
unsigned long long StartTimeOf(int pid);

// The start time from the text of /proc/PID/stat; 0 when it holds none. The command name in
// parentheses may itself hold spaces and parentheses.
unsigned long long StartTimeFromStat(std::string_view stat);

// The name `pid` goes by (ProgramName over its /proc entries); nullopt when it has none.
std::optional<std::string> ProgramNameOf(int pid);

// Whether `baseName` is one of Wine's loaders (Proton ships files of the same names).
bool IsWineLoader(std::string_view baseName);

// The name of a program from what /proc says of its process: `executable` is the target of
// its "exe" link, `commandLine` the raw NUL-separated "cmdline", `comm` the kernel's short name.
// - A plain program: the base name of its executable. A file deleted or replaced while it runs
//   (" (deleted)") still names its program.
// - An anonymous memory file ("/memfd:…") names nothing a game list could hold: nullopt.
// - A Wine loader: the Windows module it runs, the last part of the first command-line
//   argument after the last "\" or "/" (arguments that are loaders themselves are passed over,
//   as while a process starts); `comm` when the command line gives none.
std::optional<std::string> ProgramName(std::string_view executable, std::string_view commandLine,
                                       std::string_view comm);

}  // namespace proc
