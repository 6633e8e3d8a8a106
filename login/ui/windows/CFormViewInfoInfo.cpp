#include "CFormViewInfoInfo.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>

#include "AppMessageBox.h"
#include "CDlgMainMenu.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "MenuPageTexts.h"
#include "ServicePages.h"
#include "ShellOpen.h"

using UA::UI::RectLTRB;

namespace {
QLineEdit* ReadOnlyBox(QWidget* parent, int x, int y) {
    auto* box = new QLineEdit(parent);
    box->setGeometry(x, y, 200, 20);
    box->setReadOnly(true);
    box->setStyleSheet(QStringLiteral("QLineEdit { color: black; background: white; border: 1px solid #54A5D5; }"));
    return box;
}
}  // namespace

CFormViewInfoInfo::CFormViewInfoInfo(CDlgMainMenu* window)
    : CFormViewPage(kTemplate, QStringLiteral("res/info_formview_info.png"), window), window_(window) {
    captions_[0].Init(0, QStringLiteral("用户名"), RectLTRB(0, 10, 60, 23));
    captions_[1].Init(1, QStringLiteral("会员中心"), RectLTRB(230, 10, 290, 23));
    captions_[2].Init(2, QStringLiteral("直播间名称"), RectLTRB(0, 80, 60, 93));
    captions_[3].Init(3, QStringLiteral("直播间地址"), RectLTRB(230, 80, 290, 93));
    for (auto& caption : captions_) panels_.Add(&caption);
    panels_.SetFont(&font_);

    user_ = ReadOnlyBox(this, 0, 30);
    member_ = ReadOnlyBox(this, 230, 30);
    roomName_ = ReadOnlyBox(this, 0, 100);
    roomAddress_ = ReadOnlyBox(this, 230, 100);

    const QColor blue(0, 0, 255);
    links_[0].Init(kChangePassword, QStringLiteral("[修改密码]"), 55, 10, 60, 13, blue);
    links_[1].Init(kMemberCentre, QStringLiteral("[看看]"), 290, 10, 60, 13, blue);
    links_[2].Init(kWatch, QStringLiteral("[观看]"), 290, 80, 40, 13, blue);
    links_[3].Init(kCopy, QStringLiteral("[复制]"), 330, 80, 40, 13, blue);
    for (auto& link : links_) CFormViewPage::links_.Add(&link);
    CFormViewPage::links_.SetFont(&font_);

    ok_ = AddOkButton();
    connect(ok_, &CImageButton::clicked, this, [this] { window_->Close(); });
    LoadUser();
}

CFormViewInfoInfo::~CFormViewInfoInfo() = default;

void CFormViewInfoInfo::LoadUser() {
    const IMemberSettings& store = window_->Main()->Settings();
    const QString name = QString::fromStdString(store.CurrentUser().name);
    user_->setText(name);
    member_->setText(QString::fromStdString(MemberWebHost(store.ServerAddresses())));
    roomName_->setText(MenuPageTexts::RoomName(name));
}

void CFormViewInfoInfo::SetRoomAddress(const QString& address) { roomAddress_->setText(address); }

void CFormViewInfoInfo::OnTextLinkClicked(int id) {
    IMainControl* main = window_->Main();
    // The member centre's two entries carry the logged-in member's name and password.
    const auto memberCentre = [main](int entry) {
        const IMemberSettings& store = main->Settings();
        ShellOpen(QString::fromStdString(MemberCentreUrl(store.ServerAddresses(), store.CurrentUser(), entry)), true);
    };
    switch (id) {
    case kChangePassword:
        if (main) memberCentre(2);
        break;
    case kMemberCentre:
        if (main) memberCentre(1);
        break;
    case kWatch:
        if (main) ShellOpen(main->RoomAddress());
        break;
    case kCopy:
        if (!main) break;
        // The clipboard carries the address as the desktop's own (Unicode) text.
        QGuiApplication::clipboard()->setText(main->RoomAddress());
        AppMessageBox(window_, QStringLiteral("复制成功"));
        break;
    default:
        break;
    }
}
