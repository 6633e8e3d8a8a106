#pragma once

#include <string>

#include "AudioRecord.h"
#include "CDlgMainMenu.h"
#include "VideoRecord.h"

class CFormViewPropAudio;
class CFormViewPropNet;
class CFormViewPropVideo;

// Main-menu window 1, software settings, with the network, sound and video pages. The main
// control window constructs it once and shows it through ShowPanel(1, ...). The pages only hold
// the user's choice: the main window reads it with GetSettings at every broadcast start and
// when it is destroyed, and stores it itself. When the user changes the main window's audio
// source list, the main window stores the index and calls SelectSoundChoice; a
// change on the sound page reaches the list through IMainControl::SetMainSoundChoice.
class CDlgProp : public CDlgMainMenu {
    Q_OBJECT
public:
    static constexpr int kTemplate = 131;
    static constexpr int kIndex = 1;
    enum Page { kNetPage = 0, kSoundPage = 1, kVideoPage = 2 };

    explicit CDlgProp(IMainControl* main, QWidget* parent = nullptr);
    ~CDlgProp() override;

    // Overwrites the fields the pages show: the upload rate, the sound index and sound-on flag,
    // quality, size and frame rate, the save path. The other fields of the records are left as
    // the caller filled them (from its stored records).
    void GetSettings(int& bitRate, MY_DATA_SPACE::AudioRecord& audio, MY_DATA_SPACE::VideoRecord& video,
                     std::string& savePath) const;
    // The main window's audio source list changed to `audio.deviceIndex`.
    void SelectSoundChoice(const MY_DATA_SPACE::AudioRecord& audio);
    // Hands a choice of the sound page to the main window's audio source list.
    void SetMainSoundChoice(int index);

    // Shows page `page`, hides the other two and leaves its sub-tab disabled (lit); any other
    // number changes nothing.
    void ShowPage(int page);

    CFormViewPropNet* NetPage() const { return net_; }
    CFormViewPropVideo* VideoPage() const { return video_; }
    CFormViewPropAudio* SoundPage() const { return sound_; }

private:
    CFormViewPropNet* net_;
    CFormViewPropVideo* video_;
    CFormViewPropAudio* sound_;
};
