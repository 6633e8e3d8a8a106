#pragma once

#include "CDlgMainMenu.h"

class CFormViewHelpCenter;
class CFormViewHelpUpdate;

// Main-menu window 2, help: the online-upgrade page and the help-centre page behind two
// sub-tabs. The main control window constructs it once, keeps it hidden and shows it through
// ShowPanel(2, ...).
class CDlgHelp : public CDlgMainMenu {
    Q_OBJECT
public:
    static constexpr int kTemplate = 132;
    static constexpr int kIndex = 2;
    enum Page { kUpdatePage = 0, kCenterPage = 1 };

    explicit CDlgHelp(IMainControl* main, QWidget* parent = nullptr);
    ~CDlgHelp() override;

    // Shows page `page`, hides the other and leaves the page's sub-tab disabled (lit); any other
    // number hides both pages and lights the upgrade sub-tab.
    void ShowPage(int page);

    CFormViewHelpUpdate* UpdatePage() const { return update_; }
    CFormViewHelpCenter* CenterPage() const { return center_; }

private:
    CFormViewHelpUpdate* update_;
    CFormViewHelpCenter* center_;
};
