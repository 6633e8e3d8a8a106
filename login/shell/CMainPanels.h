#pragma once

#include <memory>
#include <string>

#include "CBroadcastSession.h"
#include "CData.h"

class CDlgAbout;
class CDlgHelp;
class CDlgInfo;
class CDlgMainMenu;
class CDlgProp;
class CGameId;
class IMainControl;
class QWidget;

// The secondary windows the main control window creates hidden at start-up and keeps: the four
// main-menu windows (0 info, 1 settings, 2 help, 3 about) and the game dialog.
class CMainPanels {
public:
    explicit CMainPanels(IMainControl* main);
    ~CMainPanels();

    CDlgMainMenu* Panel(int index) const;
    CDlgProp& Settings() const { return *prop_; }
    CGameId& GameDialog() const { return *gameId_; }

    // Refreshes the game dialog's running processes and shows it.
    void ShowGameDialog();
    platform::WindowId GameWindow() const;
    std::string GameProcess() const;
    long GameProcessId() const;

    // The settings window's current choice, over the stored records (fields the window does not
    // show pass through).
    ChosenSettings ReadSettings(const MY_DATA_SPACE::CData& data) const;
    // The main window's audio source list changed: the sound page follows.
    void SelectSoundChoice(const MY_DATA_SPACE::AudioRecord& audio);

private:
    std::unique_ptr<CDlgInfo> info_;
    std::unique_ptr<CDlgProp> prop_;
    std::unique_ptr<CDlgHelp> help_;
    std::unique_ptr<CDlgAbout> about_;
    std::unique_ptr<CGameId> gameId_;
};
