#include "CGameDetector.h"

#include <utility>

#include "LowerCaseName.h"

#include "GameCaptureFactory.h"
#include "GameWindowsX11.h"
#include "NetworkProbe.h"
#include "SoundPlayers.h"

CGameDetector::CGameDetector()
    : CGameDetector(&proc::ListOwnProcesses, std::make_unique<GameWindowsX11>(), platform::WaylandSession(),
                    &platform::PlayingSound) {}

CGameDetector::CGameDetector(ProcessLister processes, std::unique_ptr<IGameWindows> windows, bool windowlessGames,
                             SoundTest playingSound)
    : processes_(std::move(processes)),
      windows_(std::move(windows)),
      windowlessGames_(windowlessGames),
      playingSound_(std::move(playingSound)) {}

std::string CGameDetector::LowerCase(std::string text) { return LowerCaseName(text); }

void CGameDetector::EnumRunningProcesses(ProcessTable& table, OfferSet& offers) const {
    EnumRunningProcesses(table, offers, nullptr);
}

void CGameDetector::EnumRunningProcesses(ProcessTable& table, OfferSet& offers,
                                         std::map<long, unsigned long long>* started) const {
    (void)SetDebugPrivilege(true);
    for (const auto& process : processes_()) {
        const std::string name = LowerCase(process.name);
        table[name].push_back(process.pid);
        offers.insert(name);
        if (started != nullptr) (*started)[process.pid] = process.started;
    }
    (void)SetDebugPrivilege(false);
}

const std::vector<std::string>& CGameDetector::RefreshProcesses(const std::vector<MY_DATA_SPACE::GameRecord>& games,
                                                                const std::vector<std::string>& systemList) {
    games_ = games;
    choices_.clear();
    table_.clear();
    started_.clear();
    OfferSet offers;
    EnumRunningProcesses(table_, offers, &started_);
    // Exact matches against lower-cased names: list entries must be written in lower case.
    for (const auto& name : systemList) offers.erase(name);
    for (const auto& game : games_) {
        if (offers.erase(game.main) != 0) choices_.push_back(game.name);
    }
    choices_.insert(choices_.end(), offers.begin(), offers.end());
    failure_.clear();
    selectedWindow_ = 0;
    selectedProcess_.clear();
    selectedPid_ = 0;
    return choices_;
}

std::vector<std::string> CGameDetector::GameNamesFor(const std::string& chosen) const {
    std::vector<std::string> names;
    for (const auto& game : games_) {
        if (game.name == chosen) {
            names.push_back(game.name);
            break;
        }
    }
    names.emplace_back("其他");
    return names;
}

bool CGameDetector::SelectGameProcess(const std::string& text) {
    std::string name = text;
    for (const auto& game : games_)
        if (game.name == name) name = game.main;
    name = LowerCase(name);
    const auto it = table_.find(name);
    // A minimised game still has its X11 window, which Composite reads once it is restored (it
    // is brought to the front below): only a game without any goes to the desktop's portal.
    const std::vector<IGameWindows::OwnedWindow> windows =
        it == table_.end() ? std::vector<IGameWindows::OwnedWindow>{} : windows_->GameWindowsOf(it->second);
    if (windows.empty()) {
        // A native Wayland game has no X11 window: the desktop's portal shares it at the start.
        if (windowlessGames_ && it != table_.end() && !it->second.empty()) {
            failure_.clear();
            selectedWindow_ = 0;
            selectedProcess_ = name;
            selectedPid_ = WindowlessGameOf(it->second);
            return true;
        }
        failure_ = kNoGameWindowMessage;
        return false;
    }
    failure_.clear();
    selectedWindow_ = windows.front().window;
    selectedProcess_ = name;
    selectedPid_ = windows.front().pid;
    windows_->BringToFront(selectedWindow_);
    return true;
}

long CGameDetector::WindowlessGameOf(const std::vector<long>& pids) const {
    if (pids.size() == 1 || !playingSound_) return YoungestOf(pids);
    // A silent helper the game started (a crash reporter of the same name) is younger still.
    const std::vector<long> playing = playingSound_(pids);
    return YoungestOf(playing.empty() ? pids : playing);
}

long CGameDetector::YoungestOf(const std::vector<long>& pids) const {
    // A launcher starts the game, so of the processes that share the game's name the one
    // started last is the game, and its sound is the game's; of two started in the same tick
    // the later process id.
    const auto startOf = [this](long pid) {
        const auto found = started_.find(pid);
        return found == started_.end() ? 0ULL : found->second;
    };
    long youngest = pids.front();
    for (long pid : pids)
        if (std::pair(startOf(pid), pid) > std::pair(startOf(youngest), youngest)) youngest = pid;
    return youngest;
}
