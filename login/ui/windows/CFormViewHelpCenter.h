#pragma once

#include "CFormViewPage.h"
#include "SSTextLink.h"
#include "SSTextPanel.h"

class CDlgMainMenu;

// The help window's help-centre page: both of its links open the service's forum.
class CFormViewHelpCenter : public CFormViewPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 139;

    explicit CFormViewHelpCenter(CDlgMainMenu* window);
    ~CFormViewHelpCenter() override;

    CImageButton* OkButton() const { return ok_; }
    void OnTextLinkClicked(int id) override;

private:
    CDlgMainMenu* window_;
    UA::UI::SSTextPanel texts_[5];
    UA::UI::SSTextLink links_[2];
    CImageButton* ok_;
};
