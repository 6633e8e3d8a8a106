#include "CMainPanels.h"

#include "CDlgAbout.h"
#include "CDlgHelp.h"
#include "CDlgInfo.h"
#include "CDlgProp.h"
#include "CGameId.h"

using MY_DATA_SPACE::CData;

CMainPanels::CMainPanels(IMainControl* main)
    : info_(std::make_unique<CDlgInfo>(main)),
      prop_(std::make_unique<CDlgProp>(main)),
      help_(std::make_unique<CDlgHelp>(main)),
      about_(std::make_unique<CDlgAbout>(main)),
      gameId_(std::make_unique<CGameId>(main)) {}

CMainPanels::~CMainPanels() = default;

CDlgMainMenu* CMainPanels::Panel(int index) const {
    switch (index) {
        case 0: return info_.get();
        case 1: return prop_.get();
        case 2: return help_.get();
        default: return about_.get();
    }
}

void CMainPanels::ShowGameDialog() {
    const CData& shared = MY_DATA_SPACE::GetData();
    gameId_->RefreshProcesses(shared.GameList(), shared.SystemList());
    gameId_->show();
    gameId_->raise();
}

platform::GameSource CMainPanels::Game() const {
    platform::GameSource game;
    game.window = gameId_->GameWindow();
    game.pid = gameId_->ProcessId();
    return game;
}

std::string CMainPanels::GameProcess() const { return gameId_->ProcessName(); }


ChosenSettings CMainPanels::ReadSettings(const CData& data) const {
    ChosenSettings chosen;
    chosen.audio = data.Audio();
    chosen.video = data.Video();
    chosen.savePath = data.SaveFile();
    chosen.bitRate = data.BitRate();
    prop_->GetSettings(chosen.bitRate, chosen.audio, chosen.video, chosen.savePath);
    return chosen;
}

void CMainPanels::SelectSoundChoice(const MY_DATA_SPACE::AudioRecord& audio) { prop_->SelectSoundChoice(audio); }
