#include "CGameId.h"

#include <QKeyEvent>
#include <QPlainTextEdit>

#include "AppMessageBox.h"
#include "CGameIdCheck.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "ServicePages.h"
#include "ShellOpen.h"
#include "SkinWidgets.h"
#include "XPCDC.h"
#include "XPComboBox.h"

using SkinWidgets::MakeButton;
using SkinWidgets::MakeCombo;
using UA::UI::RectLTRB;

namespace {
// The dialog template's font: its average character is 6 x 13 pixels.
constexpr QSize kTemplateCell(6, 13);

QRect FromDialogUnits(int left, int top, int width, int height) {
    return SkinWidgets::FromDialogUnits(kTemplateCell, left, top, width, height);
}
}  // namespace

CGameId::CGameId(IMainControl* main, std::unique_ptr<CGameDetector> detector, QWidget* parent)
    : CDlgParent(kTemplate, parent),
      main_(main),
      detector_(detector ? std::move(detector) : std::make_unique<CGameDetector>()),
      font_(XPCDC::StandardFont()) {
    SetFixedSizeCentred(332, 359);
    SetFacePath(QStringLiteral("res/gameid.png"));

    processBox_ = MakeCombo(this, kProcessBoxId, FromDialogUnits(80, 39, 99, 30));
    gameNameBox_ = MakeCombo(this, kGameNameBoxId, FromDialogUnits(79, 60, 99, 30));
    introduction_ = new QPlainTextEdit(this);
    introduction_->setObjectName(QString::number(kIntroductionId));
    introduction_->setGeometry(FromDialogUnits(40, 96, 143, 40));
    introduction_->setFont(font_);
    introduction_->setStyleSheet(
        QStringLiteral("QPlainTextEdit { background: white; color: black; border: 1px solid #54A5D5; }"));

    confirm_ = MakeButton(this, kConfirmId, QRect(121, 323, 69, 26), QStringLiteral("res/game_id_ok"));
    cancel_ = MakeButton(this, kCancelId, QRect(253, 323, 69, 26), QStringLiteral("res/game_id_cancel"));
    close_ = MakeButton(this, kCloseId, QRect(304, 8, 18, 16), QStringLiteral("res/ctrmain/ctrmain_close"));
    contact_ = MakeButton(this, kContactId, QRect(70, 277, 50, 13), QStringLiteral("res/game_tip_linkus"));

    const QColor label(53, 116, 161);
    texts_[0].Init(0, QStringLiteral("游戏进程"), RectLTRB(60, 70, 110, 83), label);
    texts_[1].Init(1, QStringLiteral("游戏名称"), RectLTRB(60, 105, 110, 118), label);
    texts_[2].Init(2, QStringLiteral("描述"), RectLTRB(60, 140, 110, 153), label);
    texts_[3].Init(3, QStringLiteral("请确保游戏正在运行，如果您没有找到游戏进"), RectLTRB(40, 260, 280, 273));
    texts_[4].Init(4, QStringLiteral("程，请"), RectLTRB(30, 280, 70, 293));
    for (auto& text : texts_) panels_.Add(&text);
    panels_.SetFont(&font_);

    connect(confirm_, &CImageButton::clicked, this, [this] { Confirm(); });
    connect(cancel_, &CImageButton::clicked, this, &QWidget::hide);
    connect(close_, &CImageButton::clicked, this, &QWidget::hide);
    connect(contact_, &CImageButton::clicked, this,
            [this] { ShellOpen(QString::fromStdString(HomePageUrl(main_->Settings().ServerAddresses()))); });
    connect(processBox_, &QComboBox::currentIndexChanged, this, [this] { ProcessChosen(); });
}

CGameId::~CGameId() = default;

void CGameId::RefreshProcesses(const std::vector<MY_DATA_SPACE::GameRecord>& games,
                               const std::vector<std::string>& systemProcesses) {
    const auto& choices = detector_->RefreshProcesses(games, systemProcesses);
    const QSignalBlocker block(processBox_);
    processBox_->clear();
    for (const std::string& choice : choices) processBox_->addItem(QString::fromStdString(choice));
    processBox_->setCurrentIndex(-1);
    gameNameBox_->clear();
    gameNameBox_->setCurrentIndex(-1);
    introduction_->clear();
}

void CGameId::ProcessChosen() {
    gameNameBox_->clear();
    const QString chosen = processBox_->currentText();
    if (chosen.isEmpty()) return;
    for (const std::string& name : detector_->GameNamesFor(chosen.toStdString()))
        gameNameBox_->addItem(QString::fromStdString(name));
    gameNameBox_->setCurrentIndex(gameNameBox_->count() > 0 ? 0 : -1);
}

bool CGameId::Confirm() {
    const QString introduction = introduction_->toPlainText();
    const auto result = CGameIdCheck::Check(introduction.toStdString(), processBox_->currentText().toStdString(),
                                            [this](const std::string& text) { return detector_->SelectGameProcess(text); });
    if (result != CGameIdCheck::kConfirmed) {
        const std::string message = CGameIdCheck::MessageFor(result, detector_->FailureMessage());
        AppMessageBox(this, QString::fromStdString(message));
        return false;
    }
    const QString gameName = gameNameBox_->currentText();
    hide();
    if (main_) main_->GameChosen(gameName, introduction);
    return true;
}

bool CGameId::PreTranslateMessage(QObject* target, QEvent* event) {
    if (target == this && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        update();
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape) return true;
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Confirm();
            return true;
        }
    }
    if (event->type() == QEvent::ShortcutOverride) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return CDlgParent::PreTranslateMessage(target, event);
}

void CGameId::DrawOnFace(QPainter& painter) { panels_.DrawAll(painter); }
