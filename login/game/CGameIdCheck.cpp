#include "CGameIdCheck.h"

#include "CGameDetector.h"

CGameIdCheck::Result CGameIdCheck::Check(const std::string& introduction, const std::string& processText,
                                         const std::function<bool(const std::string&)>& selectProcess) {
    if (introduction.empty()) return kNoIntroduction;
    if (processText.empty()) return kNoProcess;
    if (!selectProcess || !selectProcess(processText)) return kNoWindow;
    return kConfirmed;
}

std::string CGameIdCheck::MessageFor(Result result, const std::string& windowFailure) {
    switch (result) {
    case kNoIntroduction: return "请填写游戏介绍";
    case kNoProcess: return "请选择游戏进程";
    case kNoWindow: return windowFailure.empty() ? std::string(kNoGameWindowMessage) : windowFailure;
    case kConfirmed: break;
    }
    return std::string();
}
