#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "GameRecord.h"
#include "IGameWindows.h"
#include "ProcessList.h"

inline constexpr const char* kNoGameWindowMessage = "获取游戏窗口失败";

// The running processes offered as games, and the window of the one the user chose. The known
// games of the game list come first under their display names, in list order; then every other
// running process by its lower-case program name, alphabetically; the system's own processes
// (the exclusion list) are never offered. A Windows program under Wine goes by its Windows
// module name ("game.exe"). Only the member's own processes are listed. User-interface thread
// only.
class CGameDetector {
public:
    using WindowId = IGameWindows::WindowId;
    using ProcessLister = std::function<std::vector<proc::ProcessEntry>()>;
    // Lower-case program name -> every process of that name, in the order they were listed.
    using ProcessTable = std::map<std::string, std::vector<long>>;
    using OfferSet = std::set<std::string>;
    // Of the processes given, those that play sound now (themselves or through a child).
    using SoundTest = std::function<std::vector<long>(const std::vector<long>& pids)>;

    // The member's processes under /proc and the windows of $DISPLAY; in a Wayland session a
    // game without an X11 window is chosen too.
    CGameDetector();
    // `windowlessGames`: a running game without a visible or minimised X11 window is chosen all
    // the same (window 0), for the desktop's ScreenCast portal to share. `playingSound` tells,
    // of several processes of the game's name without a window, which play sound.
    CGameDetector(ProcessLister processes, std::unique_ptr<IGameWindows> windows, bool windowlessGames = false,
                  SoundTest playingSound = {});

    // Every running process by lower-cased program name; a name that runs twice keeps both.
    void EnumRunningProcesses(ProcessTable& table, OfferSet& offers) const;

    // Rebuilds the process table and the process choices, and forgets the selection.
    const std::vector<std::string>& RefreshProcesses(const std::vector<MY_DATA_SPACE::GameRecord>& games,
                                                     const std::vector<std::string>& systemList);
    const std::vector<std::string>& ProcessChoices() const { return choices_; }

    // The game-name choices for a chosen process entry: its display name when it is a known
    // game, then "其他". The first is the one to select.
    std::vector<std::string> GameNamesFor(const std::string& chosen) const;

    // Chooses the process of the entry `text` (a display name or a program name) and its top
    // visible window, else its top minimised one, which is brought to the front (and so
    // restored). Of several processes of that name (a game and its launcher, two copies, a copy
    // on another display) the one that shows that window here is taken; where none has one and
    // windowless games are taken, the one started last (a launcher starts the game) of those
    // that play sound, or of all where none does. That is also whose sound "game sound only"
    // records. False, with FailureMessage() set to
    // "获取游戏窗口失败", when none is running, or none of them has a visible or minimised
    // top-level window and windowless games are not taken.
    bool SelectGameProcess(const std::string& text);

    const std::string& FailureMessage() const { return failure_; }
    WindowId SelectedWindow() const { return selectedWindow_; }
    const std::string& SelectedProcess() const { return selectedProcess_; }
    long SelectedPid() const { return selectedPid_; }

    // The whole name lower-cased (LowerCaseName), the way process names are compared.
    static std::string LowerCase(std::string text);

private:
    // EnumRunningProcesses, and when each process started (ProcessEntry::started) by its id.
    void EnumRunningProcesses(ProcessTable& table, OfferSet& offers, std::map<long, unsigned long long>* started) const;
    // Of the processes `pids` (not empty) without a window, the game's.
    long WindowlessGameOf(const std::vector<long>& pids) const;
    // Of the processes `pids` (not empty), the one started last.
    long YoungestOf(const std::vector<long>& pids) const;

    ProcessLister processes_;
    std::unique_ptr<IGameWindows> windows_;
    std::vector<MY_DATA_SPACE::GameRecord> games_;
    ProcessTable table_;
    std::map<long, unsigned long long> started_;  // process id -> start (ProcessEntry::started)
    std::vector<std::string> choices_;
    std::string failure_;
    WindowId selectedWindow_ = 0;
    std::string selectedProcess_;
    long selectedPid_ = 0;
    bool windowlessGames_ = false;
    SoundTest playingSound_;
};
