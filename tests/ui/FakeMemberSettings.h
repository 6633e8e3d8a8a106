#pragma once

// The stored data the secondary windows read, as plain values a test sets with the same calls
// the broadcaster's store has.

#include <cstddef>
#include <string>
#include <utility>

#include "IMemberSettings.h"

class FakeMemberSettings : public IMemberSettings {
public:
    const MY_DATA_SPACE::ServerAddressTable& ServerAddresses() const override { return servers_; }
    const MY_DATA_SPACE::LoginRecord& CurrentUser() const override { return user_; }
    int BitRate() const override { return bitRate_; }
    MY_DATA_SPACE::AudioRecord Audio() const override { return audio_; }
    MY_DATA_SPACE::VideoRecord Video() const override { return video_; }
    const std::string& SaveFile() const override { return saveFile_; }
    const std::string& Version() const override { return version_; }

    void SetServerAddress(int slot, std::string address) { servers_.at(static_cast<std::size_t>(slot)) = std::move(address); }
    void SetCurrentUser(MY_DATA_SPACE::LoginRecord user) { user_ = std::move(user); }
    void SetBitRate(int v) { bitRate_ = v; }
    void SetAudio(const MY_DATA_SPACE::AudioRecord& v) { audio_ = v; }
    void SetVideo(const MY_DATA_SPACE::VideoRecord& v) { video_ = v; }
    void SetSaveFile(std::string v) { saveFile_ = std::move(v); }
    void SetVersion(std::string v) { version_ = std::move(v); }

private:
    MY_DATA_SPACE::ServerAddressTable servers_;
    MY_DATA_SPACE::LoginRecord user_;
    int bitRate_ = 0;
    MY_DATA_SPACE::AudioRecord audio_{0, 1, 0, 0, 0};
    MY_DATA_SPACE::VideoRecord video_{1, 0, 0, 0, 0};
    std::string saveFile_;
    std::string version_;
};
