#pragma once

#include <string>

#include "CFormViewPropPage.h"
#include "SSRadioBox.h"
#include "SSTextPanel.h"

class CDlgProp;
class QLineEdit;
class QRadioButton;

namespace UI::Controls {
class XPComboBox;
}

// The settings window's video page: quality, picture size and frame rate in three combo boxes.
// The local-recording controls are shown but always disabled; the save path passes through.
class CFormViewPropVideo : public CFormViewPropPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 134;
    static constexpr int kQualityId = 1076;
    static constexpr int kSizeId = 1077;
    static constexpr int kFrameRateId = 1100;

    explicit CFormViewPropVideo(CDlgProp* window);
    ~CFormViewPropVideo() override;

    // Shows the stored video record and save path (IMainControl::Settings).
    void Load();
    // The quality item (-1 when none is selected), the size in percent, frames per second.
    int Quality() const;
    int SizePercent() const;
    int FrameRate() const;
    std::string SavePath() const;

    UI::Controls::XPComboBox* QualityBox() const { return quality_; }
    UI::Controls::XPComboBox* SizeBox() const { return size_; }
    UI::Controls::XPComboBox* FrameRateBox() const { return frameRate_; }
    QLineEdit* SavePathBox() const { return savePath_; }
    void OnRadioBoxChosen(int id) override;

private:
    int choice_ = 0;
    UA::UI::SSRadioBox liveVideo_;
    CImageButton* open_;
    CImageButton* set_;
    QLineEdit* savePath_;
    QRadioButton* saveLocal_;
    UI::Controls::XPComboBox* quality_;
    UI::Controls::XPComboBox* size_;
    UI::Controls::XPComboBox* frameRate_;
    UA::UI::SSTextPanel hint_;
};
