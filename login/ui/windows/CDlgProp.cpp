#include "CDlgProp.h"

#include "CFormViewPropAudio.h"
#include "CFormViewPropNet.h"
#include "CFormViewPropVideo.h"
#include "CImageButton.h"
#include "IMainControl.h"

CDlgProp::CDlgProp(IMainControl* main, QWidget* parent) : CDlgMainMenu(kTemplate, kIndex, main, parent) {
    net_ = new CFormViewPropNet(this);
    video_ = new CFormViewPropVideo(this);
    sound_ = new CFormViewPropAudio(this);
    PlacePage(net_);
    PlacePage(video_);
    PlacePage(sound_);
    AddTab(0, 1022, 203);
    AddTab(1, 1024, 231);
    subTabs_[kNetPage] = AddSubTab(1028, 259, QStringLiteral("res/prop/prop_btn_net_normal.png"),
                                   QStringLiteral("res/prop/prop_btn_net_select.png"));
    subTabs_[kSoundPage] = AddSubTab(1029, 280, QStringLiteral("res/prop/prop_btn_audio_normal.png"),
                                     QStringLiteral("res/prop/prop_btn_audio_select.png"));
    subTabs_[kVideoPage] = AddSubTab(1031, 301, QStringLiteral("res/prop/prop_btn_video_normal.png"),
                                     QStringLiteral("res/prop/prop_btn_video_select.png"));
    AddTab(2, 1025, 322);
    AddTab(3, 1026, 350);
    AddCloseButton(1159);
    for (int page = kNetPage; page <= kVideoPage; ++page)
        connect(subTabs_[page], &CImageButton::clicked, this, [this, page] { ShowPage(page); });
    ShowPage(kNetPage);
}

CDlgProp::~CDlgProp() = default;

void CDlgProp::ShowPage(int page) {
    if (page < kNetPage || page > kVideoPage) return;
    net_->setVisible(page == kNetPage);
    sound_->setVisible(page == kSoundPage);
    video_->setVisible(page == kVideoPage);
    for (CImageButton* tab : subTabs_) tab->setEnabled(true);
    subTabs_[page]->setEnabled(false);
}

void CDlgProp::GetSettings(int& bitRate, MY_DATA_SPACE::AudioRecord& audio, MY_DATA_SPACE::VideoRecord& video,
                           std::string& savePath) const {
    bitRate = net_->Rate();
    audio.deviceIndex = sound_->Choice();
    audio.enabled = sound_->SoundOn();
    video.quality = video_->Quality();
    video.sizePercent = video_->SizePercent();
    video.frameRate = video_->FrameRate();
    savePath = video_->SavePath();
}

void CDlgProp::SelectSoundChoice(const MY_DATA_SPACE::AudioRecord& audio) { sound_->SelectChoice(audio.deviceIndex); }

void CDlgProp::SetMainSoundChoice(int index) {
    if (Main()) Main()->SetMainSoundChoice(index);
}
