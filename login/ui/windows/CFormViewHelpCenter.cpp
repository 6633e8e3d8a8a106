#include "CFormViewHelpCenter.h"

#include "CDlgMainMenu.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "MenuPageTexts.h"
#include "ShellOpen.h"

using UA::UI::RectLTRB;

CFormViewHelpCenter::CFormViewHelpCenter(CDlgMainMenu* window)
    : CFormViewPage(kTemplate, QStringLiteral("res/help/help_formview_center.png"), window), window_(window) {
    const QColor heading(53, 116, 161);
    texts_[0].Init(0, QStringLiteral("在线帮助"), RectLTRB(0, 20, 60, 40), heading);
    texts_[1].Init(1, QStringLiteral("如果您在使用中遇到问题，请点此"), RectLTRB(0, 40, 180, 53));
    texts_[2].Init(2, QStringLiteral("联系客服"), RectLTRB(0, 90, 60, 110), heading);
    texts_[3].Init(3, QStringLiteral("您可以在论坛发帖，客服人员会在1-3个工作日内为您解答问题，"), RectLTRB(0, 110, 350, 123));
    texts_[4].Init(4, QStringLiteral("并回帖通知处理结果。"), RectLTRB(0, 130, 120, 143));
    for (auto& text : texts_) panels_.Add(&text);
    panels_.SetFont(&font_);
    const QColor blue(0, 0, 255);
    links_[0].Init(0, QStringLiteral("查看解决办法"), 180, 40, 100, 13, blue);
    links_[1].Init(1, QStringLiteral("去论坛发帖"), 120, 130, 100, 13, blue);
    for (auto& link : links_) CFormViewPage::links_.Add(&link);
    CFormViewPage::links_.SetFont(&font_);
    ok_ = AddOkButton();
    connect(ok_, &CImageButton::clicked, this, [this] { window_->Close(); });
}

CFormViewHelpCenter::~CFormViewHelpCenter() = default;

void CFormViewHelpCenter::OnTextLinkClicked(int id) {
    if (id != 0 && id != 1) return;
    ShellOpen(QString::fromStdString(MenuPageTexts::ForumPageUrl(window_->Main()->Settings().ServerAddresses())));
}
