#pragma once

#include "CFormViewPage.h"

class CDlgProp;
class CImageButton;

// A page of the settings window: besides the face, an OK button that takes the page's choice
// and a "recover" button that shows the stored settings again, both placed alike on every page.
class CFormViewPropPage : public CFormViewPage {
public:
    CFormViewPropPage(int templateId, const QString& facePath, CDlgProp* window);

    CImageButton* OkButton() const { return ok_; }
    CImageButton* RecoverButton() const { return recover_; }

protected:
    CDlgProp* window_;
    CImageButton* ok_;
    CImageButton* recover_;
};
