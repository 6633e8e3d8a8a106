#include "CFormViewAboutUpdate.h"

#include <QPlainTextEdit>

#include "CDlgMainMenu.h"
#include "CImageButton.h"
#include "MenuPageTexts.h"
#include "XPCDC.h"

using UA::UI::RectLTRB;

CFormViewAboutUpdate::CFormViewAboutUpdate(CDlgMainMenu* window)
    : CFormViewPage(kTemplate, QStringLiteral("res/about/about_formview_about.png"), window),
      window_(window),
      titleFont_(XPCDC::StandardFont(14, 500)) {
    title_.Init(0, QStringLiteral("升级信息:"), RectLTRB(0, 20, 100, 40));
    panels_.Add(&title_);
    panels_.SetFont(&titleFont_);

    information_ = new QPlainTextEdit(this);
    information_->setGeometry(0, 50, 410, 260);
    information_->setReadOnly(true);
    information_->setFont(font_);
    information_->setStyleSheet(QStringLiteral("QPlainTextEdit { color: black; background: white; }"));
    information_->setPlainText(MenuPageTexts::ReadUpdataInfo("UpdataInfo.txt"));

    ok_ = AddOkButton();
    connect(ok_, &CImageButton::clicked, this, [this] { window_->Close(); });
}

CFormViewAboutUpdate::~CFormViewAboutUpdate() = default;
