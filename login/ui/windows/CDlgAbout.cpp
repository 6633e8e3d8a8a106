#include "CDlgAbout.h"

#include "CFormViewAboutAbout.h"
#include "CFormViewAboutUpdate.h"
#include "CImageButton.h"

CDlgAbout::CDlgAbout(IMainControl* main, QWidget* parent) : CDlgMainMenu(kTemplate, kIndex, main, parent) {
    about_ = new CFormViewAboutAbout(this);
    update_ = new CFormViewAboutUpdate(this);
    PlacePage(about_);
    PlacePage(update_);
    AddTab(0, 1051, 203);
    AddTab(1, 1052, 231);
    AddTab(2, 1053, 259);
    AddTab(3, 1054, 287);
    subTabs_[kAboutPage] = AddSubTab(1191, 315, QStringLiteral("res/about/soft_intro_normal.png"),
                                     QStringLiteral("res/about/soft_intro_select.png"));
    subTabs_[kUpdatePage] = AddSubTab(1192, 336, QStringLiteral("res/about/upgrade_info_normal.png"),
                                      QStringLiteral("res/about/upgrade_info_select.png"));
    AddCloseButton(1145);
    connect(subTabs_[kAboutPage], &CImageButton::clicked, this, [this] { ShowPage(kAboutPage); });
    connect(subTabs_[kUpdatePage], &CImageButton::clicked, this, [this] { ShowPage(kUpdatePage); });
    ShowPage(kAboutPage);
}

CDlgAbout::~CDlgAbout() = default;

void CDlgAbout::ShowPage(int page) {
    about_->setVisible(page == kAboutPage);
    update_->setVisible(page == kUpdatePage);
    for (CImageButton* tab : subTabs_) tab->setEnabled(true);
    subTabs_[page == kUpdatePage ? kUpdatePage : kAboutPage]->setEnabled(false);
}
