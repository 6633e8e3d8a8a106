#pragma once

#include "CFormViewPage.h"
#include "SSRadioBox.h"

class CDlgProp;

// The settings window's network page: the upload rate as one of four radio boxes.
class CFormViewPropNet : public CFormViewPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 135;

    explicit CFormViewPropNet(CDlgProp* window);
    ~CFormViewPropNet() override;

    // Shows the stored rate of IMainControl::Settings (any rate not offered as 500(kb/s)).
    void Load();
    // The chosen rate in bit/s.
    int Rate() const;
    int Choice() const { return choice_; }

    CImageButton* OkButton() const { return ok_; }
    CImageButton* RecoverButton() const { return recover_; }
    void OnRadioBoxChosen(int id) override;

private:
    CDlgProp* window_;
    CImageButton* ok_;
    CImageButton* recover_;
    int choice_ = 1;
    UA::UI::SSRadioBox boxes_[4];
};
