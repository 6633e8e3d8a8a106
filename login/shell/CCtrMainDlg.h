#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QPixmap>
#include <QTimer>

#include "CBroadcastSession.h"
#include "CDataSettings.h"
#include "CDlgParent.h"
#include "IMainControl.h"
#include "ILiveOwner.h"
#include "ServiceRequests.h"

class CImageButton;
class CMainPanels;
class CPictureEx;
class QSystemTrayIcon;
namespace UI::Controls {
class XPComboBox;
}

// The window the member works with after logging in: it owns one broadcast at a time (through
// CBroadcastSession), the audio source list, the four main-menu windows, the game dialog and
// the tray icon. Created by the login window, which it asks to end the program (WM_APP_QUIT).
class CCtrMainDlg : public CDlgParent, public IMainControl, public ILiveOwner {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 145;
    static constexpr int kStartId = 1094;
    static constexpr int kStopId = 1095;
    static constexpr int kInfoId = 1084;
    static constexpr int kPropId = 1088;
    static constexpr int kHelpId = 1091;
    static constexpr int kAboutId = 1003;
    static constexpr int kMinimiseId = 1137;
    static constexpr int kCloseId = 1138;
    static constexpr int kWatchId = 1093;
    static constexpr int kCopyLinkId = 1087;
    static constexpr int kAudioSourceId = 1005;
    static constexpr int kAnimationId = 1176;
    static constexpr int kTrayIconId = 162;

    // `login` receives WM_APP_QUIT.
    explicit CCtrMainDlg(QWidget* login);
    ~CCtrMainDlg() override;

    // Settings, game list (a bad one ends the process), controls, audio sources, panels, tray.
    void OnInitDialog();

    void OnStartButton();
    void OnUserStop();
    void OnWatch();
    void OnCopyLink();
    void OnAudioSource(int index);
    void OnExit();

    // IMainControl
    QWidget* Window() override { return this; }
    const QPixmap& MenuFace() const override { return menuFace_; }
    void ShowPanel(int index, const QRect& screenRect) override;
    void PanelClosed() override;
    void SetMainSoundChoice(int index) override;
    void GameChosen(const QString& gameName, const QString& introduction) override;
    QString RoomAddress() const override;
    bool Broadcasting() const override { return session_->Broadcasting() == 1; }
    const IMemberSettings& Settings() const override { return settings_; }

    // ILiveOwner: from the sender's timer thread, carried out here on the UI thread.
    void PostLiveStop(int reason) override;
    void PostGameWindowLost() override;

    // The program is asked to end (the tray's 退出, the close button's question). While one of
    // this window's calls waits in a nested event loop (the portal's picker, a message, a
    // question), the window cannot go yet: the portal's wait is withdrawn, the broadcast ends,
    // the message boxes close, and the quit is posted again once those calls have returned.
    // True when it was deferred so; false when the window may be destroyed now.
    bool DeferQuit();

    // The health line while live, from the broadcast's figures (null: none, the line goes); the
    // window's own timer calls it once a second, and the tray icon's tooltip carries the line.
    void RefreshHealth(const StreamHealth* health, long long nowMs);
    const QString& HealthText() const { return healthText_; }
    StreamHealth::Mark HealthMark() const { return healthMark_; }
    bool HealthWatched() const { return healthTimer_.isActive(); }

    const CBroadcastSession& Session() const { return *session_; }
    const GameIdTable& GameList() const { return gameList_; }
    UI::Controls::XPComboBox* AudioSourceBox() const { return audioBox_; }
    CImageButton* StartButton() const { return startButton_; }
    CImageButton* StopButton() const { return stopButton_; }
    CPictureEx* Animation() const { return animation_; }
    CMainPanels& Panels() const { return *panels_; }
    // What each entry of the audio source list records: nullopt for "不直播声音".
    const std::vector<std::optional<platform::AudioSourceChoice>>& AudioSources() const { return audioSources_; }

    // Yes/no questions go to the skinned CDlgYN; a test may route them elsewhere.
    using QuestionHandler = std::function<bool(QWidget* parent, const QString& question)>;
    static void SetQuestionHandler(QuestionHandler handler);

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void customEvent(QEvent* event) override;
    void DrawOnFace(QPainter& painter) override;

private:
    BroadcastServices MakeServices();
    void FillAudioSources();
    void AfterStart(int started);
    void ShowStopped(const std::string& text);
    void AddTrayIcon();
    // The outermost nested call returned: a quit that waited for it is asked again.
    void AfterNestedCalls();
    static bool Ask(QWidget* parent, const QString& question);

    QWidget* login_;
    CDataSettings settings_;
    std::unique_ptr<CBroadcastSession> session_;
    GameIdTable gameList_;
    std::unique_ptr<CMainPanels> panels_;
    std::vector<std::optional<platform::AudioSourceChoice>> audioSources_;
    QPixmap menuFace_;
    QImage face_;
    QImage tipStop_;
    QString versionText_;
    UI::Controls::XPComboBox* audioBox_ = nullptr;
    CImageButton* startButton_ = nullptr;
    CImageButton* stopButton_ = nullptr;
    CImageButton* panelButtons_[4] = {};
    CImageButton* minimiseButton_ = nullptr;
    CImageButton* closeButton_ = nullptr;
    CImageButton* watchButton_ = nullptr;
    CImageButton* copyLinkButton_ = nullptr;
    CPictureEx* animation_ = nullptr;
    std::unique_ptr<QSystemTrayIcon> tray_;
    int trayIconAdded_ = 0;
    // This window's calls under way that may run a nested event loop, and a quit asked meanwhile.
    int nestedCalls_ = 0;
    bool quitPending_ = false;
    QTimer healthTimer_;
    QString healthText_;
    StreamHealth::Mark healthMark_ = StreamHealth::Mark::Green;
};
