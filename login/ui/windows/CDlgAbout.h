#pragma once

#include "CDlgMainMenu.h"

class CFormViewAboutAbout;
class CFormViewAboutUpdate;

// Main-menu window 3, about: the software introduction and the upgrade information behind two
// sub-tabs. The main control window constructs it once, keeps it hidden and shows it through
// ShowPanel(3, ...).
class CDlgAbout : public CDlgMainMenu {
    Q_OBJECT
public:
    static constexpr int kTemplate = 133;
    static constexpr int kIndex = 3;
    enum Page { kAboutPage = 0, kUpdatePage = 1 };

    explicit CDlgAbout(IMainControl* main, QWidget* parent = nullptr);
    ~CDlgAbout() override;

    // Shows page `page`, hides the other and leaves the page's sub-tab disabled (lit); any other
    // number hides both pages and lights the about sub-tab.
    void ShowPage(int page);

    CFormViewAboutAbout* AboutPage() const { return about_; }
    CFormViewAboutUpdate* UpdatePage() const { return update_; }

private:
    CFormViewAboutAbout* about_;
    CFormViewAboutUpdate* update_;
};
