#pragma once

#include "CFormViewPropPage.h"
#include "SSRadioBox.h"

class CDlgProp;

// The settings window's network page: the upload rate as one of four radio boxes.
class CFormViewPropNet : public CFormViewPropPage {
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

    void OnRadioBoxChosen(int id) override;

private:
    int choice_ = 1;
    UA::UI::SSRadioBox boxes_[4];
};
