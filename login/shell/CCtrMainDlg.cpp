#include "CCtrMainDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDialog>
#include <QIcon>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QSystemTrayIcon>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "AppMessageBox.h"
#include "AudioSourceList.h"
#include "AudioSources.h"
#include "CDlgMainMenu.h"
#include "CImageButton.h"
#include "CMainPanels.h"
#include "CPictureEx.h"
#include "CSendDataStream.h"
#include "GameCaptureFactory.h"
#include "ServicePages.h"
#include "ShellMessages.h"
#include "ShellOpen.h"
#include "SkinLayout.h"
#include "SkinResources.h"
#include "SkinWidgets.h"
#include "StreamAddress.h"
#include "XPComboBox.h"

using MY_DATA_SPACE::CData;
using MY_DATA_SPACE::GetData;
using SkinWidgets::MakeButton;
using SkinWidgets::Place;
using SkinWidgets::Q;

namespace {

// The real capture sender behind the session's interface.
class CLiveSender final : public ILiveSender {
public:
    CLiveSender(ILiveOwner* owner, const CStreamSettings* settings, std::shared_ptr<platform::IGameCapture> capture)
        : stream_(owner, settings, std::move(capture)) {}
    int Start(std::shared_ptr<platform::IGameCapture> capture, const std::string& processName) override {
        return stream_.Start(std::move(capture), processName);
    }
    const StreamHealth* Health() const override { return &stream_.Health(); }
    // A start without a capture stops the sender and drops the capture it held, and starts nothing.
    void ReleaseCapture() override { stream_.Start(nullptr, std::string()); }

private:
    CSendDataStream stream_;
};

// One of the window's calls that may wait in a nested event loop, where any other event of the
// program (a quit among them) is carried out; the outermost one's end carries out a quit that
// had to wait for it.
class WindowNestedCall {
public:
    WindowNestedCall(int& depth, std::function<void()> atRest) : depth_(depth), atRest_(std::move(atRest)) {
        ++depth_;
    }
    ~WindowNestedCall() {
        if (--depth_ == 0) atRest_();
    }
    WindowNestedCall(const WindowNestedCall&) = delete;
    WindowNestedCall& operator=(const WindowNestedCall&) = delete;

private:
    int& depth_;
    std::function<void()> atRest_;
};

CCtrMainDlg::QuestionHandler& QuestionRoute() {
    static CCtrMainDlg::QuestionHandler handler;
    return handler;
}

}  // namespace

void CCtrMainDlg::SetQuestionHandler(QuestionHandler handler) { QuestionRoute() = std::move(handler); }

CCtrMainDlg::CCtrMainDlg(QWidget* login) : CDlgParent(kTemplateId, nullptr), login_(login) {
    session_ = std::make_unique<CBroadcastSession>(GetData(), MakeServices(), this);
    healthTimer_.setInterval(1000);
    connect(&healthTimer_, &QTimer::timeout, this, [this] {
        const ILiveSender* sender = session_->Broadcasting() == 1 ? session_->Sender() : nullptr;
        RefreshHealth(sender != nullptr ? sender->Health() : nullptr,
                      std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    });
}

void CCtrMainDlg::RefreshHealth(const StreamHealth* health, long long nowMs) {
    const StreamHealth::Figures figures = health != nullptr ? health->Read(nowMs) : StreamHealth::Figures{};
    healthText_ = figures.live ? Q(StreamHealth::Text(figures)) : QString();
    healthMark_ = figures.mark;
    if (tray_) {
        tray_->setToolTip(healthText_.isEmpty() ? QStringLiteral("STRIMO直播")
                                                : QStringLiteral("STRIMO直播\n") + healthText_);
    }
    update();
}

CCtrMainDlg::~CCtrMainDlg() {
    // While the settings window still exists: its choice goes into CData, a running broadcast
    // ends and the service hears of it.
    session_->End();
    if (tray_) tray_->hide();
    trayIconAdded_ = 0;
    if (animation_ != nullptr) animation_->Stop();
    session_.reset();
    panels_.reset();
}

BroadcastServices CCtrMainDlg::MakeServices() {
    BroadcastServices s;
    s.requestStreamInfo = [this](const std::string& game, const std::string& introduction) {
        CData& shared = GetData();
        const auto info =
            RequestStreamInfo(shared.ServerAddresses(), shared.Connection(), gameList_, game, introduction);
        if (!info) return false;
        shared.SetPipName(info->pipName);
        shared.SetPipUrl(info->pipUrl);
        shared.SetLid(info->lid);
        return true;
    };
    s.sendEndNotice = [] { SendEndNotice(GetData().ServerAddresses(), GetData().Lid()); };
    s.resolveStreamUrl = [](const std::string& url, std::string& resolved) { return ResolveStreamUrl(url, resolved); };
    s.cancelOpen = [] { platform::WithdrawGameCaptureOpens(); };
    s.openCapture = [](const platform::GameSource& game, const std::string& processName,
                       std::optional<std::string>* answeredToken) -> std::shared_ptr<platform::IGameCapture> {
        std::string failure;
        std::shared_ptr<platform::IGameCapture> capture = platform::OpenGameCapture(game, &failure, answeredToken);
        if (!capture)
            std::fprintf(stderr, "Could not capture the game %s: %s\n", processName.c_str(), failure.c_str());
        return capture;
    };
    s.makeSender = [](ILiveOwner* owner, const CStreamSettings* settings,
                      std::shared_ptr<platform::IGameCapture> capture) -> std::unique_ptr<ILiveSender> {
        return std::make_unique<CLiveSender>(owner, settings, std::move(capture));
    };
    s.readSettings = [this] {
        ChosenSettings chosen = panels_ ? panels_->ReadSettings(GetData()) : ChosenSettings{};
        const int index = audioBox_ != nullptr ? audioBox_->currentIndex() : -1;
        if (index >= 0 && index < static_cast<int>(audioSources_.size()))
            chosen.audioDevice = audioSources_[static_cast<std::size_t>(index)];
        return chosen;
    };
    s.message = [this](const std::string& text) { AppMessageBox(this, Q(text)); };
    return s;
}

void CCtrMainDlg::OnInitDialog() {
    namespace L = SkinLayout::CtrMain;
    SkinResources::Init();
    const QIcon icon(SkinResources::Path(QStringLiteral("icon"), SkinResources::kAppIcon));
    setWindowIcon(icon);
    SetFixedSizeCentred(400, 300);
    setWindowTitle(QStringLiteral("STRIMO直播"));

    CData& shared = GetData();
    shared.LoadPersonSettings();

    const GameListResult games = RequestGameList(shared.ServerAddresses(), shared.Connection(), gameList_);
    if (games != GameListResult::kGood) {
        if (const char* text = GameListMessage(games)) AppMessageBox(this, QString::fromUtf8(text));
        std::exit(0);
    }

    audioBox_ = SkinWidgets::MakeCombo(this, kAudioSourceId, SkinWidgets::SlotRect(L::kAudioSource));
    startButton_ = MakeButton(this, kStartId, L::kStart, QStringLiteral("res/ctrmain/ctrmain_btn_start"));
    stopButton_ = MakeButton(this, kStopId, L::kStop, QStringLiteral("res/ctrmain/ctrmain_btn_stop"));
    stopButton_->hide();
    panelButtons_[0] = MakeButton(this, kInfoId, L::kInfo, QStringLiteral("res/ctrmain/info_btn"),
                                  QStringLiteral("个人信息"));
    panelButtons_[1] = MakeButton(this, kPropId, L::kProp, QStringLiteral("res/ctrmain/prop_btn"),
                                  QStringLiteral("软件设置"));
    panelButtons_[2] = MakeButton(this, kHelpId, L::kHelp, QStringLiteral("res/ctrmain/help_btn"),
                                  QStringLiteral("帮助中心"));
    panelButtons_[3] = MakeButton(this, kAboutId, L::kAbout, QStringLiteral("res/ctrmain/about_btn"),
                                  QStringLiteral("关于软件"));
    minimiseButton_ = MakeButton(this, kMinimiseId, L::kMinimise, QStringLiteral("res/ctrmain/ctrmain_min"));
    closeButton_ = MakeButton(this, kCloseId, L::kClose, QStringLiteral("res/ctrmain/ctrmain_close"));
    watchButton_ = MakeButton(this, kWatchId, L::kWatch, QStringLiteral("res/ctrmain/ctrmain_look_video"));
    copyLinkButton_ = MakeButton(this, kCopyLinkId, L::kCopyLink, QStringLiteral("res/ctrmain/ctrmain_copy_link"));
    face_.load(QStringLiteral("res/ctrmain/ctrmain.png"));
    tipStop_.load(QStringLiteral("res/ctrmain/ctrmain_tip_stop.png"));
    menuFace_.load(QStringLiteral("res/bg.png"));
    SetSharedFace(&face_);
    animation_ = new CPictureEx(this);
    animation_->setObjectName(QString::number(kAnimationId));
    Place(animation_, L::kAnimation);
    animation_->Load(QString::number(SkinResources::kLiveAnimation), QStringLiteral("gif"));
    animation_->hide();

    connect(startButton_, &QAbstractButton::clicked, this, &CCtrMainDlg::OnStartButton);
    connect(stopButton_, &QAbstractButton::clicked, this, &CCtrMainDlg::OnUserStop);
    for (int i = 0; i < 4; ++i)
        connect(panelButtons_[i], &QAbstractButton::clicked, this, [this, i] { ShowPanel(i, QRect()); });
    connect(minimiseButton_, &QAbstractButton::clicked, this, [this] {
        if (trayIconAdded_) hide();
        else showMinimized();
    });
    connect(closeButton_, &QAbstractButton::clicked, this, &CCtrMainDlg::OnExit);
    connect(watchButton_, &QAbstractButton::clicked, this, &CCtrMainDlg::OnWatch);
    connect(copyLinkButton_, &QAbstractButton::clicked, this, &CCtrMainDlg::OnCopyLink);

    FillAudioSources();
    connect(audioBox_, qOverload<int>(&QComboBox::currentIndexChanged), this, &CCtrMainDlg::OnAudioSource);

    panels_ = std::make_unique<CMainPanels>(this);
    versionText_ = QStringLiteral("Ver") + Q(shared.Version());
    AddTrayIcon();
}

void CCtrMainDlg::FillAudioSources() {
    audioSources_.clear();
    for (const auto& entry : AudioSourceEntries(platform::ListAudioSources())) {
        audioSources_.push_back(entry.source);
        audioBox_->addItem(Q(entry.label));
    }
    const int index = GetData().Audio().deviceIndex;
    audioBox_->setCurrentIndex(index >= 0 && index < audioBox_->count() ? index : -1);
}

void CCtrMainDlg::AddTrayIcon() {
    // Desktops without a notification area (and Xvfb) have no tray host: the window then
    // minimises instead of hiding.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = std::make_unique<QSystemTrayIcon>(windowIcon());
    tray_->setToolTip(QStringLiteral("STRIMO直播"));
    auto* menu = new QMenu(this);
    menu->addAction(QStringLiteral("打开主面板"), this, [this] {
        show();
        setEnabled(true);
    });
    menu->addAction(QStringLiteral("退出"), this,
                    [this] { QCoreApplication::postEvent(login_, new QEvent(ShellEventType(WM_APP_QUIT))); });
    tray_->setContextMenu(menu);
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) show();
    });
    tray_->show();
    tray_->showMessage(QStringLiteral("提示"), QString(), QSystemTrayIcon::Information, 1000);
    trayIconAdded_ = 1;
}

bool CCtrMainDlg::Ask(QWidget* parent, const QString& question) {
    return QuestionRoute() ? QuestionRoute()(parent, question) : false;
}

bool CCtrMainDlg::DeferQuit() {
    if (nestedCalls_ == 0 && !session_->Opening()) return false;
    quitPending_ = true;
    // The portal's request is withdrawn and a broadcast ends now, not after a box the member
    // may leave up; the boxes themselves are closed, so their calls return.
    session_->End();
    for (QDialog* box : findChildren<QDialog*>())
        if (box->isVisible() && box->isModal()) box->reject();
    return true;
}

void CCtrMainDlg::AfterNestedCalls() {
    if (!quitPending_) return;
    quitPending_ = false;
    QCoreApplication::postEvent(login_, new QEvent(ShellEventType(WM_APP_QUIT)));
}

void CCtrMainDlg::OnStartButton() {
    const WindowNestedCall call(nestedCalls_, [this] { AfterNestedCalls(); });
    if (session_->OffersContinue()) {
        if (Ask(this, QStringLiteral("是否要继续直播"))) {
            update();
            startButton_->setEnabled(false);
            AfterStart(session_->ContinueBroadcast());
            return;
        }
        session_->DeclineContinue();
    }
    panels_->ShowGameDialog();
}

void CCtrMainDlg::GameChosen(const QString& gameName, const QString& introduction) {
    const WindowNestedCall call(nestedCalls_, [this] { AfterNestedCalls(); });
    update();
    startButton_->setEnabled(false);
    AfterStart(session_->RequestBroadcast(gameName.toStdString(), introduction.toStdString(), panels_->Game(),
                                          panels_->GameProcess()));
}

void CCtrMainDlg::AfterStart(int started) {
    if (!started) {
        startButton_->setEnabled(true);
        return;
    }
    QThread::msleep(100);
    startButton_->hide();
    stopButton_->show();
    stopButton_->setEnabled(true);
    if (animation_->FrameCount() > 0) {
        animation_->show();
        animation_->Draw();
    }
    healthTimer_.start();
    update();
}

void CCtrMainDlg::ShowStopped(const std::string& text) {
    raise();
    activateWindow();
    animation_->Stop();
    animation_->hide();
    healthTimer_.stop();
    RefreshHealth(nullptr, 0);
    stopButton_->setEnabled(false);
    stopButton_->hide();
    startButton_->show();
    startButton_->setEnabled(true);
    update();
    AppMessageBox(this, Q(text));
}

void CCtrMainDlg::OnUserStop() {
    const WindowNestedCall call(nestedCalls_, [this] { AfterNestedCalls(); });
    ShowStopped(session_->UserStop());
}

void CCtrMainDlg::PostLiveStop(int reason) {
    QCoreApplication::postEvent(this, new LiveStopEvent(WM_LIVE_STOP, reason, session_->Generation()));
}

void CCtrMainDlg::PostGameWindowLost() {
    QCoreApplication::postEvent(this,
                                new LiveStopEvent(LiveStopEvent::kGameWindowLost, kLiveStopUser, session_->Generation()));
}

void CCtrMainDlg::customEvent(QEvent* event) {
    const bool liveStop = event->type() == ShellEventType(WM_LIVE_STOP);
    const bool lost = event->type() == ShellEventType(LiveStopEvent::kGameWindowLost);
    if (liveStop || lost) {
        const auto* stop = static_cast<LiveStopEvent*>(event);
        // Only the broadcast that posted it may be ended by it.
        if (!session_->Broadcasting() || stop->Generation() != session_->Generation()) return;
        const WindowNestedCall call(nestedCalls_, [this] { AfterNestedCalls(); });
        ShowStopped(lost ? session_->UserStop() : session_->LiveStop(stop->Reason()));
        return;
    }
    CDlgParent::customEvent(event);
}

QString CCtrMainDlg::RoomAddress() const {
    const CData& shared = GetData();
    return Q(RoomPageUrl(shared.ServerAddresses(), shared.Broadcasting() != 0, shared.Lid()));
}

void CCtrMainDlg::OnWatch() { ShellOpen(RoomAddress()); }

void CCtrMainDlg::OnCopyLink() {
    // The platform's text is UTF-8: the address goes on the clipboard as it is, never narrowed.
    auto* mime = new QMimeData;
    mime->setData(QStringLiteral("text/plain;charset=utf-8"), RoomAddress().toUtf8());
    mime->setText(RoomAddress());
    QApplication::clipboard()->setMimeData(mime);
    const WindowNestedCall call(nestedCalls_, [this] { AfterNestedCalls(); });
    AppMessageBox(this, QStringLiteral("复制成功"));
}

void CCtrMainDlg::OnAudioSource(int index) {
    CData& shared = GetData();
    auto audio = shared.Audio();
    audio.deviceIndex = index;
    shared.SetAudio(audio);
    if (panels_) panels_->SelectSoundChoice(audio);
}

void CCtrMainDlg::SetMainSoundChoice(int index) {
    const QSignalBlocker quiet(audioBox_);
    audioBox_->setCurrentIndex(index);
}

void CCtrMainDlg::ShowPanel(int index, const QRect& screenRect) {
    if (session_->Broadcasting() == 1 || index < 0 || index > 3) return;
    for (int i = 0; i < 4; ++i) {
        if (i != index) panels_->Panel(i)->hide();
    }
    panels_->Panel(index)->ShowAt(screenRect);
    setEnabled(false);
}

void CCtrMainDlg::PanelClosed() {
    setEnabled(true);
    activateWindow();
}

void CCtrMainDlg::OnExit() {
    const WindowNestedCall call(nestedCalls_, [this] { AfterNestedCalls(); });
    if (Ask(this, QStringLiteral("确定要退出吗?")))
        QCoreApplication::postEvent(login_, new QEvent(ShellEventType(WM_APP_QUIT)));
}

void CCtrMainDlg::DrawOnFace(QPainter& painter) {
    if (session_->Broadcasting() == 0 && !tipStop_.isNull())
        painter.drawImage(SkinLayout::CtrMain::kTipStop.x, SkinLayout::CtrMain::kTipStop.y, tipStop_);
    if (session_->Broadcasting() == 1 && !healthText_.isEmpty()) {
        // The queue's mark as a dot in traffic-light colours, the figures beside it.
        const auto& h = SkinLayout::CtrMain::kHealth;
        const QColor mark = healthMark_ == StreamHealth::Mark::Red      ? QColor(0xD9, 0x3A, 0x2B)
                            : healthMark_ == StreamHealth::Mark::Yellow ? QColor(0xE8, 0xB0, 0x1C)
                                                                        : QColor(0x3C, 0xB0, 0x43);
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(mark);
        painter.drawEllipse(QRect(h.x, h.y + (h.height - 10) / 2, 10, 10));
        painter.restore();
        painter.setPen(QColor(0x35, 0x74, 0xA1));
        painter.drawText(QRect(h.x + 16, h.y, h.width - 16, h.height), Qt::AlignLeft | Qt::AlignVCenter, healthText_);
    }
    const auto& v = SkinLayout::CtrMain::kVersion;
    painter.setPen(QColor(0x35, 0x74, 0xA1));
    painter.drawText(QRect(v.x, v.y, v.width, v.height), Qt::AlignLeft | Qt::AlignVCenter, versionText_);
}

bool CCtrMainDlg::PreTranslateMessage(QObject* target, QEvent* event) {
    return PreTranslateKeyPresses(target, event);
}
