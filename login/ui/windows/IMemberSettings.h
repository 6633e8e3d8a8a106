#pragma once

#include <string>

#include "AudioRecord.h"
#include "LoginRecord.h"
#include "ServerAddresses.h"
#include "VideoRecord.h"

// What the settings and menu pages (and the game dialog) read of the broadcaster's stored data:
// the service addresses, the logged-in member, the stored broadcast settings and the program
// version. The main control window provides it (IMainControl::Settings); the pages never write
// through it: the main window takes their choices with CDlgProp::GetSettings and stores them.
class IMemberSettings {
public:
    virtual ~IMemberSettings() = default;

    virtual const MY_DATA_SPACE::ServerAddressTable& ServerAddresses() const = 0;
    virtual const MY_DATA_SPACE::LoginRecord& CurrentUser() const = 0;
    virtual int BitRate() const = 0;
    virtual MY_DATA_SPACE::AudioRecord Audio() const = 0;
    virtual MY_DATA_SPACE::VideoRecord Video() const = 0;
    virtual const std::string& SaveFile() const = 0;
    virtual const std::string& Version() const = 0;
};
