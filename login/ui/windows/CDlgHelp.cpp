#include "CDlgHelp.h"

#include "CFormViewHelpCenter.h"
#include "CFormViewHelpUpdate.h"

CDlgHelp::CDlgHelp(IMainControl* main, QWidget* parent) : CDlgMainMenu(kTemplate, kIndex, main, parent) {
    update_ = new CFormViewHelpUpdate(this);
    center_ = new CFormViewHelpCenter(this);
    PlacePage(update_);
    PlacePage(center_);
    AddTab(0, 1040, 203);
    AddTab(1, 1041, 231);
    AddTab(2, 1042, 259);
    AddSubTab(1046, 287, QStringLiteral("res/help/upgrade_normal.png"), QStringLiteral("res/help/upgrade_select.png"),
              update_);  // kUpdatePage
    AddSubTab(1045, 308, QStringLiteral("res/help/help_normal.png"), QStringLiteral("res/help/help_select.png"),
              center_);  // kCenterPage
    AddTab(3, 1043, 329);
    AddCloseButton(1149);
    ShowPage(kUpdatePage);
}

CDlgHelp::~CDlgHelp() = default;

void CDlgHelp::ShowPage(int page) { ShowSubPage(page, kUpdatePage); }
