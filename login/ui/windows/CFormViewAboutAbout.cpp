#include "CFormViewAboutAbout.h"

#include <QMouseEvent>
#include <QPlainTextEdit>

#include "CDlgMainMenu.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "MenuPageTexts.h"
#include "ShellOpen.h"
#include "XPCDC.h"

using UA::UI::RectLTRB;

CFormViewAboutAbout::CFormViewAboutAbout(CDlgMainMenu* window)
    : CFormViewPage(kTemplate, QStringLiteral("res/about/about_formview_about.png"), window),
      window_(window),
      bigFont_(XPCDC::StandardFont(16)) {
    const IMemberSettings& store = window->Main()->Settings();
    // The heading is wider than the other lines so that the name and version fit on one line.
    texts_[0].Init(0, MenuPageTexts::ProductTitle(store.Version()), RectLTRB(0, 20, 300, 40));
    texts_[1].Init(1, MenuPageTexts::OwnershipNotice(), RectLTRB(0, 50, 300, 70));
    texts_[2].Init(2, QString(), RectLTRB(0, 80, 400, 100));
    for (auto& text : texts_) panels_.Add(&text);
    panels_.SetFont(&bigFont_);
    site_.Init(0, QString::fromStdString(MenuPageTexts::MainSiteUrl(store.ServerAddresses())), 0, 80, 200, 13,
               QColor(0, 0, 255));
    links_.Add(&site_);
    links_.SetFont(&font_);

    description_ = new QPlainTextEdit(this);
    description_->setGeometry(0, 140, 410, 160);
    description_->setReadOnly(true);
    description_->setFont(font_);
    description_->setStyleSheet(QStringLiteral("QPlainTextEdit { color: black; background: white; }"));
    description_->setPlainText(MenuPageTexts::ProductDescription());

    ok_ = AddOkButton();
    connect(ok_, &CImageButton::clicked, this, [this] { window_->Close(); });
}

CFormViewAboutAbout::~CFormViewAboutAbout() = default;

void CFormViewAboutAbout::OnTextLinkClicked(int id) {
    if (id == 0) ShellOpen(site_.Text());
}

void CFormViewAboutAbout::mouseReleaseEvent(QMouseEvent* event) {
    CFormViewPage::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton) repaint();
}
