#include "CDlgMainMenu.h"

#include <QPixmap>

#include "CImageButton.h"
#include "IMainControl.h"

namespace {
const char* const kTabPictures[4] = {"res/bg_info", "res/bg_prop", "res/bg_help", "res/bg_about"};
}

CDlgMainMenu::CDlgMainMenu(int templateId, int menuIndex, IMainControl* main, QWidget* parent)
    : CDlgParent(templateId, parent), menuIndex_(menuIndex), main_(main) {
    SetFixedSizeCentred(kWidth, kHeight);
    LoadFace();
}

CDlgMainMenu::~CDlgMainMenu() = default;

void CDlgMainMenu::LoadFace() {
    // The main window loads "res/bg.png" once; a copy as an image is what the face paint draws.
    if (main_ && !main_->MenuFace().isNull()) face_ = main_->MenuFace().toImage();
    SetSharedFace(&face_);
}

void CDlgMainMenu::showEvent(QShowEvent* event) {
    if (face_.isNull()) LoadFace();
    CDlgParent::showEvent(event);
}

CImageButton* CDlgMainMenu::AddTab(int index, int id, int y) {
    auto* button = new CImageButton(this);
    button->setObjectName(QString::number(id));
    button->setGeometry(5, y, 127, 27);
    const QString base = QString::fromLatin1(kTabPictures[index]);
    if (index == menuIndex_) {
        button->LoadPictures(base + QStringLiteral("_select.png"));
    } else {
        button->LoadPictures(base + QStringLiteral("_normal.png"), base + QStringLiteral("_hover.png"),
                             base + QStringLiteral("_select.png"));
        connect(button, &CImageButton::clicked, this, [this, index] { SwitchTo(index); });
    }
    tabs_[index] = button;
    return button;
}

CImageButton* CDlgMainMenu::AddSubTab(int id, int y, const QString& normal, const QString& select, QWidget* page) {
    auto* button = new CImageButton(this);
    button->setObjectName(QString::number(id));
    button->setGeometry(5, y, 127, 20);
    button->LoadPictures(normal, select, select);
    const int index = static_cast<int>(subPages_.size());
    subPages_.push_back({page, button});
    connect(button, &CImageButton::clicked, this, [this, index] { ShowSubPage(index); });
    return button;
}

void CDlgMainMenu::ShowSubPage(int index, int litWhenNone) {
    const int count = static_cast<int>(subPages_.size());
    const bool inRange = index >= 0 && index < count;
    if (!inRange && (litWhenNone < 0 || litWhenNone >= count)) return;
    for (int i = 0; i < count; ++i) subPages_[static_cast<std::size_t>(i)].page->setVisible(i == index);
    for (const SubPage& sub : subPages_) sub.tab->setEnabled(true);
    subPages_[static_cast<std::size_t>(inRange ? index : litWhenNone)].tab->setEnabled(false);
}

void CDlgMainMenu::AddCloseButton(int id) {
    close_ = new CImageButton(this);
    close_->setObjectName(QString::number(id));
    close_->setGeometry(609, 10, 18, 16);
    close_->LoadPictures(QStringLiteral("res/bg_close_normal.png"), QStringLiteral("res/bg_close_select.png"));
    connect(close_, &CImageButton::clicked, this, &CDlgMainMenu::Close);
}

void CDlgMainMenu::PlacePage(QWidget* page) {
    page->setParent(this);
    page->setGeometry(kPageRect);
}

void CDlgMainMenu::Close() {
    if (main_) main_->PanelClosed();
    hide();
}

void CDlgMainMenu::SwitchTo(int index) {
    if (main_) main_->ShowPanel(index, geometry());
}

void CDlgMainMenu::ShowAt(const QRect& screenRect) {
    if (!screenRect.isEmpty() && ProgramPlacesWindows()) move(screenRect.topLeft());
    show();
    raise();
    activateWindow();
}

bool CDlgMainMenu::PreTranslateMessage(QObject* target, QEvent* event) {
    return PreTranslateSkinnedWindow(target, event);
}
