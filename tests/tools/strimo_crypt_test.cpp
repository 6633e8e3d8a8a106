// strimo-crypt, run as administrators run it: a round trip through the store and clear errors
// with a non-zero status for bad input.

#include <gtest/gtest.h>

#include <string>

#include "CFileCipher.h"
#include "Capture.h"
#include "TempDir.h"

using testsupport::Captured;
using testsupport::CaptureRun;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Standard output and standard error together.
Captured Tool(const std::string& args) { return CaptureRun(std::string(STRIMO_CRYPT) + " " + args + " 2>&1"); }

}  // namespace

TEST(StrimoCrypt, EncryptThenDecryptGivesTheTextBack) {
    TempDir dir;
    const std::string text = "<kanvo>\n\t<server>\n\t\t<a>http://127.0.0.1:18080/api/login</a>\n\t</server>\n</kanvo>\n";
    WriteFile(dir / "plain.xml", text);
    ASSERT_EQ(0, Tool("encrypt " + dir / "plain.xml" + " " + dir / "config.xml").status);
    std::string stored;
    ASSERT_TRUE(LoadEncrypted(dir / "config.xml", stored));  // the program's own reader agrees
    EXPECT_EQ(text, stored);
    const Captured back = Tool("decrypt " + dir / "config.xml");
    EXPECT_EQ(0, back.status);
    EXPECT_EQ(text, back.out);
}

TEST(StrimoCrypt, BadInputIsRefusedWithAReason) {
    TempDir dir;
    WriteFile(dir / "empty", "");
    WriteFile(dir / "plain", "<usr version=\"1\"/>");
    WriteFile(dir / "nul", std::string("a\0b", 3));

    const Captured usage = Tool("frobnicate");
    EXPECT_EQ(2, usage.status);
    EXPECT_NE(std::string::npos, usage.out.find("usage:"));

    const Captured missing = Tool("decrypt " + dir / "missing");
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.out.find("cannot read"));

    const Captured notStored = Tool("decrypt " + dir / "plain");
    EXPECT_EQ(1, notStored.status);
    EXPECT_NE(std::string::npos, notStored.out.find("does not decipher"));

    EXPECT_EQ(1, Tool("decrypt " + dir / "empty").status);
    EXPECT_EQ(1, Tool("encrypt " + dir / "missing " + dir / "out").status);
    EXPECT_EQ(1, Tool("encrypt " + dir / "empty " + dir / "out").status);
    EXPECT_EQ(1, Tool("encrypt " + dir / "nul " + dir / "out").status);
    EXPECT_EQ(1, Tool("encrypt " + dir / "plain " + dir / "no-such-folder/out").status);
}

TEST(StrimoCrypt, AFailedEncryptLeavesTheTargetAsItWas) {
    TempDir dir;
    WriteFile(dir / "plain", "<usr version=\"1\"/>");
    WriteFile(dir / "empty", "");
    ASSERT_EQ(0, Tool("encrypt " + dir / "plain " + dir / "usr.xml").status);
    const std::string before = ReadFile(dir / "usr.xml");
    EXPECT_EQ(1, Tool("encrypt " + dir / "empty " + dir / "usr.xml").status);
    EXPECT_EQ(before, ReadFile(dir / "usr.xml"));
}

TEST(StrimoCrypt, InstalledDefaultsAreReadableXml) {
    for (const char* name : {"config.xml", "usr.xml"}) {
        SCOPED_TRACE(name);
        const Captured shown = Tool(std::string("decrypt ") + STRIMO_INSTALL_DIR + "/default/" + name);
        EXPECT_EQ(0, shown.status);
        EXPECT_EQ('<', shown.out.front());
    }
    const Captured config = Tool(std::string("decrypt ") + STRIMO_INSTALL_DIR + "/default/config.xml");
    EXPECT_NE(std::string::npos, config.out.find("<person name=\"\">"));
    EXPECT_NE(std::string::npos, config.out.find("<speed>500000</speed>"));
}
