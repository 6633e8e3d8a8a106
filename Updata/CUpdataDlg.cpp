#include "CUpdataDlg.h"

#include <unistd.h>

#include <QApplication>
#include <QPainter>
#include <QThread>

#include <cstdlib>
#include <filesystem>

#include "AppMessageBox.h"
#include "CDlgAnimation.h"
#include "DetachedProcess.h"
#include "UpdateStartup.h"

namespace {
constexpr int kTemplateId = 102;
constexpr int kSplashSleepMs = 2000;
}  // namespace

UpdaterPaths UpdaterPaths::ForThisProcess() {
    UpdaterPaths paths;
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    paths.installDir = ec ? std::filesystem::current_path().string() : self.parent_path().string();
    const char* tmp = std::getenv("TMPDIR");
    paths.tempDir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    return paths;
}

CUpdataDlg::CUpdataDlg(UpdaterPaths paths, QWidget* parent)
    : CDlgParent(kTemplateId, parent), CMMTimers(1), paths_(std::move(paths)), icon_(QStringLiteral(":/icon/162")) {
    font_.setFamily(QStringLiteral("新宋体"));
    font_.setPixelSize(12);
    font_.setWeight(QFont::Normal);
    statusPanel_.Init(0, QStringLiteral("正在下载..."), QRect(QPoint(100, 80), QPoint(290, 93)), Qt::black);
    panels_.Add(&statusPanel_);
    panels_.SetFont(&font_);
    startMainProgram = [](const std::string& installDir) {
        StartDetached(installDir + "/strimo", installDir);
    };
}

CUpdataDlg::~CUpdataDlg() { StopTimer(); }

bool CUpdataDlg::Initialize(bool splash) {
    SetFixedSizeCentred(295, 193);
    setWindowTitle(QStringLiteral("STRIMO直播"));
    setWindowIcon(icon_);
    SetFacePath(QStringLiteral("res/my_message.png"));

    const std::string message = RunUpdateStartup(paths_.versionFile, state_, connection_);
    if (!message.empty()) {
        AppMessageBox(this, QString::fromStdString(message));
        return false;
    }
    filesTotal_ = state_.files.empty() ? 1 : static_cast<int>(state_.files.size());

    if (splash) {
        CDlgAnimation animation(this);
        animation.exec();
    }
    StartTimer(kTickMs, false);
    // The first tick starts the downloads while the window is not on the screen yet.
    if (splash) QThread::msleep(kSplashSleepMs);
    return true;
}

void CUpdataDlg::OnTimer() {
    if (finishing_) return;
    if (!RepeatCheck(connection_.get(), state_)) {
        Finish({false, kMsgConnectionLost});
        return;
    }
    if (busy_.exchange(1) != 0) return;
    Finish(RunUpdateWorker(state_, connection_.get(), *this, paths_.installDir, paths_.tempDir, paths_.versionFile));
}

void CUpdataDlg::Finish(const UpdateOutcome& outcome) {
    if (finishing_.exchange(true)) return;
    // Windows live on the user-interface thread: the end is carried out there.
    QMetaObject::invokeMethod(
        this,
        [this, outcome] {
            StopTimer();
            if (!outcome.message.empty()) AppMessageBox(this, QString::fromStdString(outcome.message));
            if (outcome.startMainProgram && startMainProgram) startMainProgram(paths_.installDir);
            emit finished(QString::fromStdString(outcome.message), outcome.startMainProgram);
            done(QDialog::Accepted);
        },
        Qt::QueuedConnection);
}

void CUpdataDlg::SetProgress(int done) {
    filesDone_ = done < 0 ? 0 : done;
    {
        std::lock_guard<std::mutex> lock(statusMutex_);
        statusPanel_.SetText(QStringLiteral("正在下载(%1/%2)...").arg(filesTotal_.load()).arg(filesDone_.load()));
    }
    QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection);
}

QString CUpdataDlg::StatusText() const {
    std::lock_guard<std::mutex> lock(statusMutex_);
    return statusPanel_.Text();
}

int CUpdataDlg::FilledWidth() const {
    const int total = filesTotal_ > 0 ? filesTotal_.load() : 1;
    return 198 * filesDone_ / total;
}

bool CUpdataDlg::PreTranslateMessage(QObject* target, QEvent* event) {
    return PreTranslateKeyPresses(target, event);
}

void CUpdataDlg::DrawOnFace(QPainter& painter) {
    if (progressVisible_) {
        painter.setPen(frameColour_);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(50, 100, 199, 19);  // the one-pixel frame of (50, 100, 250, 120)
        const int right = 51 + FilledWidth();
        if (right > 51) painter.fillRect(QRect(QPoint(51, 101), QPoint(right - 1, 118)), fillColour_);
    }
    std::lock_guard<std::mutex> lock(statusMutex_);
    panels_.DrawAll(painter);
}
