#include "CFormViewHelpUpdate.h"

#include "CDlgMainMenu.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "ServicePages.h"
#include "ShellOpen.h"

using UA::UI::RectLTRB;

CFormViewHelpUpdate::CFormViewHelpUpdate(CDlgMainMenu* window)
    : CFormViewPage(kTemplate, QStringLiteral("res/help/help_formview_update.png"), window), window_(window) {
    const QColor heading(53, 116, 161);
    texts_[0].Init(0, QStringLiteral("自动更新"), RectLTRB(0, 20, 60, 40), heading);
    texts_[1].Init(1, QStringLiteral("自动更新能够在程序启动时自动检查并更新到新版本。"), RectLTRB(0, 40, 300, 53));
    texts_[2].Init(2, QStringLiteral("默认为“当有更新时自动更新”。"), RectLTRB(0, 60, 300, 73));
    texts_[3].Init(3, QStringLiteral("手动更新"), RectLTRB(0, 110, 60, 130), heading);
    texts_[4].Init(4, QStringLiteral("您可以立即检查更新，升级到最新版本。"), RectLTRB(0, 130, 300, 143));
    texts_[5].Init(5, QStringLiteral("查看更多信息请访问:"), RectLTRB(0, 150, 120, 163));
    for (auto& text : texts_) panels_.Add(&text);
    panels_.SetFont(&font_);
    update_.Init(0, QStringLiteral("手动更新"), 120, 150, 200, 13, QColor(0, 0, 255));
    links_.Add(&update_);
    links_.SetFont(&font_);
    ok_ = AddOkButton();
    connect(ok_, &CImageButton::clicked, this, [this] { window_->Close(); });
}

CFormViewHelpUpdate::~CFormViewHelpUpdate() = default;

void CFormViewHelpUpdate::OnTextLinkClicked(int id) {
    if (id == 0) ShellOpen(QString::fromStdString(UpdatePageUrl(window_->Main()->Settings().ServerAddresses())));
}
