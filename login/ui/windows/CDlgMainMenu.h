#pragma once

#include <vector>

#include <QImage>
#include <QRect>
#include <QString>

#include "CDlgParent.h"

class CImageButton;
class IMainControl;

// The frame shared by the four main-menu windows (0 info, 1 settings, 2 help, 3 about): the
// 640x484 face the main control window keeps, the left-hand tabs, the close button and the
// pages on the right. A tab of another window asks the main control window to show that window
// where this one stands; close and the pages' OK buttons hide this window and hand the focus
// back. Escape, Return and Alt+F4 never close it.
class CDlgMainMenu : public CDlgParent {
    Q_OBJECT
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 484;
    static constexpr QRect kPageRect{170, 40, 466, 440};

    CDlgMainMenu(int templateId, int menuIndex, IMainControl* main, QWidget* parent = nullptr);
    ~CDlgMainMenu() override;

    int MenuIndex() const { return menuIndex_; }
    IMainControl* Main() const { return main_; }

    // The close button and every page's OK button: re-enable the main window and hide.
    void Close();
    // A tab of window `index`: that window takes this window's place on the screen.
    void SwitchTo(int index);
    // For the main window's ShowPanel: moves to `screenRect`'s top-left corner (an empty
    // rectangle keeps the window's own place), then shows, raises and activates the window.
    void ShowAt(const QRect& screenRect);

    CImageButton* TabButton(int index) const { return tabs_[index]; }
    CImageButton* CloseButton() const { return close_; }
    // The sub-tab of page `page`, in the order the sub-tabs were added.
    CImageButton* SubTab(int page) const { return subPages_[static_cast<std::size_t>(page)].tab; }

protected:
    // The tab of window `index` at height `y`, with button id `id`. This window's own tab shows
    // only its select picture and does nothing.
    CImageButton* AddTab(int index, int id, int y);
    // A sub-tab button (127x20) with its normal picture and the select picture twice, so that
    // the disabled button of the page on view stays lit. A click on it shows `page`
    // (ShowSubPage); the pages are numbered in the order their sub-tabs are added.
    CImageButton* AddSubTab(int id, int y, const QString& normal, const QString& select, QWidget* page);
    // Shows sub-page `index`, hides the others and leaves its sub-tab disabled (lit), all other
    // sub-tabs enabled. An index outside the pages changes nothing, unless `litWhenNone` names
    // a sub-tab: then every page is hidden and that sub-tab is the lit one.
    void ShowSubPage(int index, int litWhenNone = -1);
    void AddCloseButton(int id);
    // Places a page at the right-hand page rectangle, a child of this window.
    void PlacePage(QWidget* page);

    bool PreTranslateMessage(QObject* target, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void LoadFace();

    int menuIndex_;
    IMainControl* main_;
    QImage face_;
    CImageButton* tabs_[4] = {};
    CImageButton* close_ = nullptr;
    struct SubPage {
        QWidget* page;
        CImageButton* tab;
    };
    std::vector<SubPage> subPages_;
};
