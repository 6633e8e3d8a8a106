#include "CDlgInfo.h"

#include "CFormViewInfoInfo.h"
#include "IMainControl.h"

CDlgInfo::CDlgInfo(IMainControl* main, QWidget* parent) : CDlgMainMenu(kTemplate, kIndex, main, parent) {
    page_ = new CFormViewInfoInfo(this);
    PlacePage(page_);
    page_->show();
    AddTab(0, 1013, 203);
    AddTab(1, 1014, 231);
    AddTab(2, 1015, 259);
    AddTab(3, 1016, 287);
    AddCloseButton(1142);
}

CDlgInfo::~CDlgInfo() = default;

void CDlgInfo::showEvent(QShowEvent* event) {
    page_->LoadUser();
    if (Main()) page_->SetRoomAddress(Main()->RoomAddress());
    CDlgMainMenu::showEvent(event);
}
