#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include <QColor>
#include <QFont>
#include <QIcon>

#include "CDlgParent.h"
#include "CMMTimers.h"
#include "SSPanelCollection.h"
#include "SSTextPanel.h"
#include "UpdateConnection.h"
#include "UpdateState.h"
#include "UpdateWorker.h"

// Where the updater works: the installation it updates (the folder of its own executable), the
// version file in the current directory, and the temporary folder for the downloads.
struct UpdaterPaths {
    std::string installDir;
    std::string versionFile = "version.xml";
    std::string tempDir;

    static UpdaterPaths ForThisProcess();
};

// The updater's progress window. Initialize() runs the start-up checks, the splash window and
// starts the 1000 ms timer; every tick checks the update host again and the first one runs the
// update worker on the timer thread, which reports its progress here. Whatever the worker
// decides, the window ends the program on its own thread: the message is shown, the broadcaster
// started where the outcome says so, and the event loop left with status 0.
class CUpdataDlg : public CDlgParent, public CMMTimers, public UpdateProgress {
    Q_OBJECT
public:
    static constexpr unsigned kTickMs = 1000;

    explicit CUpdataDlg(UpdaterPaths paths, QWidget* parent = nullptr);
    ~CUpdataDlg() override;

    // The start-up sequence. False when the program must end (its message has been shown).
    // `splash` is false in tests that skip the five-second splash window.
    bool Initialize(bool splash = true);

    void OnTimer() override;
    void SetProgress(int done) override;
    void ShowProgress() override { progressVisible_ = 1; }

    QString StatusText() const;
    int FilesTotal() const { return filesTotal_; }
    int FilesDone() const { return filesDone_; }
    bool ProgressVisible() const { return progressVisible_ != 0; }
    // The width of the green part of the bar.
    int FilledWidth() const;
    const UpdateState& State() const { return state_; }

    // How the program ends; replaceable in tests. The default starts the broadcaster detached
    // from the installation directory.
    std::function<void(const std::string& installDir)> startMainProgram;

signals:
    // The program has ended its work; `message` was shown, if any.
    void finished(const QString& message, bool mainProgramStarted);

protected:
    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void DrawOnFace(QPainter& painter) override;

private:
    void Finish(const UpdateOutcome& outcome);

    UpdaterPaths paths_;
    QIcon icon_;
    std::unique_ptr<UpdateConnection> connection_;
    UpdateState state_;
    std::atomic<int> busy_{0};
    std::atomic<bool> finishing_{false};
    QFont font_;
    UA::UI::SSTextPanel statusPanel_;
    UA::UI::SSPanelCollection panels_;
    mutable std::mutex statusMutex_;  // the status text is written on the timer thread
    std::atomic<int> filesTotal_{0};
    std::atomic<int> filesDone_{0};
    const QColor frameColour_{53, 116, 161};
    const QColor fillColour_{0, 255, 0};
    std::atomic<int> progressVisible_{0};
};
