#include "CFormViewPropVideo.h"

#include <QLineEdit>
#include <QRadioButton>

#include "CDlgProp.h"
#include "CImageButton.h"
#include "IMainControl.h"
#include "IMemberSettings.h"
#include "PropChoices.h"
#include "SkinWidgets.h"
#include "XPComboBox.h"

using UA::UI::RectLTRB;
using SkinWidgets::MakeCombo;

namespace {
// The page template's font ("宋体" 9): its average character is 6 x 12 pixels, so one unit is
// 1.5 pixels both ways.
constexpr QSize kTemplateCell(6, 12);

QRect FromDialogUnits(int left, int top, int width, int height) {
    return SkinWidgets::FromDialogUnits(kTemplateCell, left, top, width, height);
}
}  // namespace

CFormViewPropVideo::CFormViewPropVideo(CDlgProp* window)
    : CFormViewPropPage(kTemplate, QStringLiteral("res/prop/prop_formview_video.png"), window) {
    liveVideo_.Init(0, QStringLiteral("直播游戏视频"), RectLTRB(20, 50, 121, 65));
    radios_.Add(&liveVideo_);
    SkinRadios();
    hint_.Init(0, QStringLiteral("网速慢的用户可选择缩小画面"), RectLTRB(245, 245, 445, 258));
    panels_.Add(&hint_);
    panels_.SetFont(&font_);

    // Local recording is not offered: its controls are there, disabled, and do nothing.
    saveLocal_ = new QRadioButton(QStringLiteral("不直播视频，保存本地"), this);
    saveLocal_->setObjectName(QStringLiteral("1130"));
    saveLocal_->setGeometry(FromDialogUnits(13, 56, 96, 10));
    saveLocal_->setFont(font_);
    saveLocal_->setChecked(false);
    saveLocal_->setEnabled(false);
    savePath_ = new QLineEdit(this);
    savePath_->setObjectName(QStringLiteral("1074"));
    savePath_->setGeometry(FromDialogUnits(21, 89, 146, 16));
    savePath_->setFont(font_);
    savePath_->setStyleSheet(QStringLiteral("QLineEdit { background: white; }"));
    savePath_->setEnabled(false);
    open_ = new CImageButton(this);
    open_->setObjectName(QStringLiteral("1000"));
    open_->setGeometry(FromDialogUnits(212, 89, 32, 17));
    open_->LoadPictures(QStringLiteral("res/prop/prop_btn_video_open_disable.png"));
    open_->setEnabled(false);
    set_ = new CImageButton(this);
    set_->setObjectName(QStringLiteral("1001"));
    set_->setGeometry(FromDialogUnits(254, 89, 32, 17));
    set_->LoadPictures(QStringLiteral("res/prop/prop_btn_video_set_disable.png"));
    set_->setEnabled(false);

    quality_ = MakeCombo(this, kQualityId, FromDialogUnits(48, 134, 108, 16),
                         {QStringLiteral("一般"), QStringLiteral("较好"), QStringLiteral("好")});
    size_ = MakeCombo(this, kSizeId, FromDialogUnits(48, 157, 108, 16),
                      {QStringLiteral("50%"), QStringLiteral("75%"), QStringLiteral("100%")});
    frameRate_ = MakeCombo(this, kFrameRateId, FromDialogUnits(48, 179, 108, 16),
                           {QStringLiteral("8(f/s)"), QStringLiteral("10(f/s)"), QStringLiteral("15(f/s)")});

    connect(ok_, &CImageButton::clicked, this, [this] { window_->Close(); });
    connect(recover_, &CImageButton::clicked, this, [this] { Load(); });
    Load();
}

CFormViewPropVideo::~CFormViewPropVideo() = default;

void CFormViewPropVideo::Load() {
    const IMemberSettings& store = window_->Main()->Settings();
    const MY_DATA_SPACE::VideoRecord video = store.Video();
    radios_.Select(0);
    quality_->setCurrentIndex(PropChoices::QualityItemFor(video.quality));
    size_->setCurrentIndex(PropChoices::SizeItemForPercent(video.sizePercent));
    frameRate_->setCurrentIndex(PropChoices::FrameRateItemFor(video.frameRate));
    savePath_->setText(QString::fromStdString(store.SaveFile()));
    update();
}

int CFormViewPropVideo::Quality() const { return quality_->currentIndex(); }

int CFormViewPropVideo::SizePercent() const { return PropChoices::PercentForSizeItem(size_->currentIndex()); }

int CFormViewPropVideo::FrameRate() const { return PropChoices::FrameRateForItem(frameRate_->currentIndex()); }

std::string CFormViewPropVideo::SavePath() const { return savePath_->text().toStdString(); }

void CFormViewPropVideo::OnRadioBoxChosen(int id) { choice_ = id; }
