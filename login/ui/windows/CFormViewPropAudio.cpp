#include "CFormViewPropAudio.h"

#include "CDlgProp.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "PropChoices.h"

using UA::UI::RectLTRB;

CFormViewPropAudio::CFormViewPropAudio(CDlgProp* window)
    : CFormViewPropPage(kTemplate, QStringLiteral("res/prop/prop_formview_audio.png"), window) {
    boxes_[0].Init(0, QStringLiteral("不直播声音"), RectLTRB(20, 50, 121, 65));
    boxes_[1].Init(1, QStringLiteral("直播麦克风和电脑声音"), RectLTRB(20, 90, 121, 105));
    boxes_[2].Init(2, QStringLiteral("直播麦克风声音"), RectLTRB(20, 130, 121, 145));
    for (auto& box : boxes_) radios_.Add(&box);
    SkinRadios();
    connect(ok_, &CImageButton::clicked, this, [this] {
        window_->SetMainSoundChoice(choice_);
        window_->Close();
    });
    connect(recover_, &CImageButton::clicked, this, [this] {
        Load();
        window_->SetMainSoundChoice(choice_);
    });
    Load();
}

CFormViewPropAudio::~CFormViewPropAudio() = default;

void CFormViewPropAudio::Load() {
    // Loading only shows the stored choice; the main window's list is set by whoever asked.
    loading_ = 1;
    choice_ = window_->Main()->Settings().Audio().deviceIndex;
    ShowChoice();
    loading_ = 0;
}

void CFormViewPropAudio::SelectChoice(int index) {
    choice_ = index;
    ShowChoice();
}

void CFormViewPropAudio::ShowChoice() {
    const int box = PropChoices::SoundRadioFor(choice_);
    if (box >= 0) {
        radios_.Select(box);
    } else {
        for (auto& b : boxes_) b.SetState(0);
    }
    update();
}

int CFormViewPropAudio::SoundOn() const { return PropChoices::SoundOnFor(choice_); }

void CFormViewPropAudio::OnRadioBoxChosen(int id) {
    choice_ = id;
    if (!loading_) window_->SetMainSoundChoice(id);
}
