#include "CDlgAbout.h"

#include "CFormViewAboutAbout.h"
#include "CFormViewAboutUpdate.h"

CDlgAbout::CDlgAbout(IMainControl* main, QWidget* parent) : CDlgMainMenu(kTemplate, kIndex, main, parent) {
    about_ = new CFormViewAboutAbout(this);
    update_ = new CFormViewAboutUpdate(this);
    PlacePage(about_);
    PlacePage(update_);
    AddTab(0, 1051, 203);
    AddTab(1, 1052, 231);
    AddTab(2, 1053, 259);
    AddTab(3, 1054, 287);
    AddSubTab(1191, 315, QStringLiteral("res/about/soft_intro_normal.png"),
              QStringLiteral("res/about/soft_intro_select.png"), about_);  // kAboutPage
    AddSubTab(1192, 336, QStringLiteral("res/about/upgrade_info_normal.png"),
              QStringLiteral("res/about/upgrade_info_select.png"), update_);  // kUpdatePage
    AddCloseButton(1145);
    ShowPage(kAboutPage);
}

CDlgAbout::~CDlgAbout() = default;

void CDlgAbout::ShowPage(int page) { ShowSubPage(page, kAboutPage); }
