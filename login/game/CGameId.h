#pragma once

#include <memory>
#include <string>
#include <vector>

#include <QFont>

#include "CDlgParent.h"
#include "CGameDetector.h"
#include "SSPanelCollection.h"
#include "SSTextPanel.h"

class CImageButton;
class IMainControl;
class QPlainTextEdit;

namespace UI::Controls {
class XPComboBox;
}

// The game dialog: the user picks the running game's process, the game's name as the service
// knows it, and writes the introduction that becomes the broadcast's title. The main control
// window constructs it once (hidden), calls RefreshProcesses(...) and show() for every start;
// confirm hides the dialog and calls IMainControl::GameChosen(name, introduction), after which
// GameWindow() and ProcessName() give the chosen window and executable name until the next
// refresh. Escape does not close it; Return confirms.
class CGameId : public CDlgParent {
    Q_OBJECT
public:
    using WindowId = CGameDetector::WindowId;
    static constexpr int kTemplate = 156;
    static constexpr int kProcessBoxId = 1011;
    static constexpr int kGameNameBoxId = 1012;
    static constexpr int kConfirmId = 1008;
    static constexpr int kCancelId = 1009;
    static constexpr int kCloseId = 1183;
    static constexpr int kContactId = 1184;
    static constexpr int kIntroductionId = 1181;

    // Without a detector the dialog watches /proc and the windows of $DISPLAY.
    explicit CGameId(IMainControl* main, std::unique_ptr<CGameDetector> detector = nullptr, QWidget* parent = nullptr);
    ~CGameId() override;

    // Lists the running processes (games of the game list `games` first, the system's own
    // `systemProcesses` left out) and empties both boxes and the introduction.
    void RefreshProcesses(const std::vector<MY_DATA_SPACE::GameRecord>& games,
                          const std::vector<std::string>& systemProcesses);
    // The confirm button and Return: runs the checks, then hands the choice over. False when a
    // check failed (its message was shown and the dialog stays open).
    bool Confirm();

    WindowId GameWindow() const { return detector_->SelectedWindow(); }
    std::string ProcessName() const { return detector_->SelectedProcess(); }
    long ProcessId() const { return detector_->SelectedPid(); }

    UI::Controls::XPComboBox* ProcessBox() const { return processBox_; }
    UI::Controls::XPComboBox* GameNameBox() const { return gameNameBox_; }
    QPlainTextEdit* Introduction() const { return introduction_; }
    CImageButton* ConfirmButton() const { return confirm_; }
    CImageButton* CancelButton() const { return cancel_; }
    CImageButton* CloseButton() const { return close_; }
    CImageButton* ContactButton() const { return contact_; }
    const UA::UI::SSPanelCollection& Panels() const { return panels_; }

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void DrawOnFace(QPainter& painter) override;

private:
    void ProcessChosen();

    IMainControl* main_;
    UI::Controls::XPComboBox* processBox_;
    UI::Controls::XPComboBox* gameNameBox_;
    CImageButton* confirm_;
    CImageButton* cancel_;
    CImageButton* close_;
    CImageButton* contact_;
    QPlainTextEdit* introduction_;
    std::unique_ptr<CGameDetector> detector_;
    QFont font_;
    UA::UI::SSTextPanel texts_[5];
    UA::UI::SSPanelCollection panels_;
};
