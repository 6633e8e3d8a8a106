// Arbitrary bytes as a stored file: reading must fail or succeed cleanly, never read out of
// bounds, and anything that reads back must survive a save and a second read unchanged.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "CFileCipher.h"
#include "CXmlDocFile.h"
#include "TempDir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static testsupport::TempDir dir;
    const std::string file = dir / "input";
    testsupport::WriteFile(file, std::string(reinterpret_cast<const char*>(data), size));

    std::string text;
    if (LoadEncrypted(file, text)) {
        const std::string copy = dir / "copy";
        if (!SaveEncrypted(copy, text)) std::abort();
        std::string again;
        if (!LoadEncrypted(copy, again) || again != text) std::abort();
    }
    CXmlDocFile doc("");
    doc.Load(file);
    return 0;
}
