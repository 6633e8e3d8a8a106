#pragma once

#include "CFormViewPropPage.h"
#include "SSRadioBox.h"

class CDlgProp;

// The settings window's sound page. Its choice is the index of the main window's audio source
// list (0 no sound, 1 and 2 the first two sources), and every change is handed to that list at
// once; an index above 2, chosen in the main window's list, selects no radio box and is kept.
class CFormViewPropAudio : public CFormViewPropPage {
    Q_OBJECT
public:
    static constexpr int kTemplate = 103;

    explicit CFormViewPropAudio(CDlgProp* window);
    ~CFormViewPropAudio() override;

    // Shows the stored sound index (IMainControl::Settings).
    void Load();
    // The main window's list changed: take `index` as the choice, as a click on its box would.
    void SelectChoice(int index);
    int Choice() const { return choice_; }
    // 1 when the choice sends sound.
    int SoundOn() const;

    void OnRadioBoxChosen(int id) override;

private:
    void ShowChoice();

    int choice_ = 0;
    int loading_ = 0;
    UA::UI::SSRadioBox boxes_[3];
};
