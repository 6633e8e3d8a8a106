#include "CUpdataApp.h"

#include <algorithm>

#include "AppMessageBox.h"
#include "CMyMessage.h"
#include "CUpdataDlg.h"

bool CUpdataApp::AnotherInstanceRuns(const std::vector<proc::ProcessEntry>& processes) {
    const auto count = std::count_if(processes.begin(), processes.end(), [](const proc::ProcessEntry& p) {
        return p.name == kMainProgram || p.name == kUpdater;
    });
    return count >= 2;
}

int CUpdataApp::Run() {
    if (AnotherInstanceRuns(proc::ListProcesses())) return 0;
    SetSkinnedMessageHandler(&CMyMessage::Show);
    CUpdataDlg dialog(UpdaterPaths::ForThisProcess());
    if (dialog.Initialize()) dialog.exec();
    return 0;
}
