#pragma once

#include <string>
#include <vector>

#include "ProcessList.h"

// The updater as a program: it runs alone (not while the broadcaster or another updater runs),
// routes its skinned message boxes to CMyMessage and shows the progress window until the work
// is done. The exit status is 0 on every path.
class CUpdataApp {
public:
    // The names the single-instance rule counts, exact and case-sensitive.
    static constexpr const char* kMainProgram = "strimo";
    static constexpr const char* kUpdater = "StrimoUpdata";

    // True when the list (which includes this process) holds two or more broadcasters or
    // updaters: the updater must then end at once, silently.
    static bool AnotherInstanceRuns(const std::vector<proc::ProcessEntry>& processes);

    // Runs the updater in the current directory; needs a QApplication.
    int Run();
};
