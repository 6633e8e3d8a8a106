#pragma once

#include "CFormViewPage.h"
#include "SSTextLink.h"
#include "SSTextPanel.h"

class CDlgMainMenu;

// The help window's upgrade page: how updates work, and a link to the service's update page.
// It starts nothing itself; updating is the updater program's work.
class CFormViewHelpUpdate : public CFormViewPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 137;

    explicit CFormViewHelpUpdate(CDlgMainMenu* window);
    ~CFormViewHelpUpdate() override;

    CImageButton* OkButton() const { return ok_; }
    void OnTextLinkClicked(int id) override;

private:
    CDlgMainMenu* window_;
    UA::UI::SSTextPanel texts_[6];
    UA::UI::SSTextLink update_;
    CImageButton* ok_;
};
