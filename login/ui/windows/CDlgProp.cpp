#include "CDlgProp.h"

#include "CFormViewPropAudio.h"
#include "CFormViewPropNet.h"
#include "CFormViewPropVideo.h"
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
    AddSubTab(1028, 259, QStringLiteral("res/prop/prop_btn_net_normal.png"),
              QStringLiteral("res/prop/prop_btn_net_select.png"), net_);  // kNetPage
    AddSubTab(1029, 280, QStringLiteral("res/prop/prop_btn_audio_normal.png"),
              QStringLiteral("res/prop/prop_btn_audio_select.png"), sound_);  // kSoundPage
    AddSubTab(1031, 301, QStringLiteral("res/prop/prop_btn_video_normal.png"),
              QStringLiteral("res/prop/prop_btn_video_select.png"), video_);  // kVideoPage
    AddTab(2, 1025, 322);
    AddTab(3, 1026, 350);
    AddCloseButton(1159);
    ShowPage(kNetPage);
}

CDlgProp::~CDlgProp() = default;

void CDlgProp::ShowPage(int page) { ShowSubPage(page); }

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
