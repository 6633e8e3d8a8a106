#include "CFormViewPropNet.h"

#include "CDlgProp.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "PropChoices.h"

using UA::UI::RectLTRB;

CFormViewPropNet::CFormViewPropNet(CDlgProp* window)
    : CFormViewPropPage(kTemplate, QStringLiteral("res/prop/prop_formview_net.png"), window) {
    const char* const labels[4] = {"300(kb/s)", "500(kb/s)", "800(kb/s)", "1000(kb/s)"};
    for (int i = 0; i < 4; ++i) {
        boxes_[i].Init(i, QString::fromUtf8(labels[i]), RectLTRB(20 + 100 * i, 50, 100 + 100 * i, 65));
        radios_.Add(&boxes_[i]);
    }
    SkinRadios();
    connect(ok_, &CImageButton::clicked, this, [this] { window_->Close(); });
    connect(recover_, &CImageButton::clicked, this, [this] { Load(); });
    Load();
}

CFormViewPropNet::~CFormViewPropNet() = default;

void CFormViewPropNet::Load() {
    choice_ = PropChoices::NetIndexForRate(window_->Main()->Settings().BitRate());
    radios_.Select(choice_);
    update();
}

int CFormViewPropNet::Rate() const { return PropChoices::RateForNetIndex(choice_); }

void CFormViewPropNet::OnRadioBoxChosen(int id) { choice_ = id; }
