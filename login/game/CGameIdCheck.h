#pragma once

#include <functional>
#include <string>

// The checks of the game dialog's confirm, in the order the user hears of them: the
// introduction, then a chosen process, then the process's window. Nothing goes to the service
// until all three pass.
class CGameIdCheck {
public:
    enum Result { kConfirmed = 0, kNoIntroduction, kNoProcess, kNoWindow };

    // `selectProcess` chooses the process entry and its window (CGameDetector::SelectGameProcess);
    // it is not called when an earlier check fails.
    static Result Check(const std::string& introduction, const std::string& processText,
                        const std::function<bool(const std::string&)>& selectProcess);

    // The message for a failed check ("" for kConfirmed); `windowFailure` is the detector's own
    // message for kNoWindow.
    static std::string MessageFor(Result result, const std::string& windowFailure);
};
