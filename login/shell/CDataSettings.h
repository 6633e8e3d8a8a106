#pragma once

#include "CData.h"
#include "IMemberSettings.h"

// The stored data the pages show, read from the program's one CData: what the main control
// window hands its secondary windows (IMainControl::Settings).
class CDataSettings final : public IMemberSettings {
public:
    const MY_DATA_SPACE::ServerAddressTable& ServerAddresses() const override {
        return MY_DATA_SPACE::GetData().ServerAddresses();
    }
    const MY_DATA_SPACE::LoginRecord& CurrentUser() const override { return MY_DATA_SPACE::GetData().CurrentUser(); }
    int BitRate() const override { return MY_DATA_SPACE::GetData().BitRate(); }
    MY_DATA_SPACE::AudioRecord Audio() const override { return MY_DATA_SPACE::GetData().Audio(); }
    MY_DATA_SPACE::VideoRecord Video() const override { return MY_DATA_SPACE::GetData().Video(); }
    const std::string& SaveFile() const override { return MY_DATA_SPACE::GetData().SaveFile(); }
    const std::string& Version() const override { return MY_DATA_SPACE::GetData().Version(); }
};
