// Arbitrary text as the plain content of config.xml and usr.xml: loading, reading the person
// entry and writing both files back must never crash or throw, whatever the text.

#include <cstdint>
#include <string>

#include "CData.h"
#include "CFileCipher.h"
#include "TempDir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testsupport::TempDir dir;
    testsupport::ScopedChdir cd(dir.path());
    const std::string text(reinterpret_cast<const char*>(data), size);
    ::unlink("config.xml");
    ::unlink("usr.xml");
    SaveEncrypted("config.xml", text);
    SaveEncrypted("usr.xml", text);
    {
        MY_DATA_SPACE::CData first;
        first.LoadUserFile();
        first.LoadConfigFile();
        first.SetCurrentUser({"fuzz", "secret", true});
        first.LoadPersonSettings();
        first.LoadPersonSettings();
    }  // writes both files back
    MY_DATA_SPACE::CData again;
    again.LoadUserFile();
    again.LoadConfigFile();
    return 0;
}
