// CData: loading the user and configuration files with their fall-backs, the person entries, and
// what is written back at exit.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>

#include "CData.h"
#include "CFileCipher.h"
#include "TempDir.h"

using MY_DATA_SPACE::CData;
using testsupport::ScopedChdir;
using testsupport::TempDir;

namespace {

const char* kPerson = R"(
  <person name="%NAME%">
    <video><size>%SIZE%</size><frame_rate num="1" den="15"/><quality>2</quality><record>1</record><deviceID>3</deviceID><savefile>/tmp/x.flv</savefile></video>
    <audio><sample_rate>22050</sample_rate><channels>1</channels><datarate>44100</datarate><record>1</record><deviceID>2</deviceID></audio>
    <net><streamID>s9</streamID><speed>800000</speed></net>
  </person>)";

std::string Person(const std::string& name, const std::string& size) {
    std::string p = kPerson;
    p.replace(p.find("%NAME%"), 6, name);
    p.replace(p.find("%SIZE%"), 6, size);
    return p;
}

const char* kDefaultPerson = R"(
  <person name="">
    <video><size>100</size><frame_rate num="1" den="10"/><quality>0</quality><record>0</record><deviceID>0</deviceID><savefile></savefile></video>
    <audio><sample_rate>22050</sample_rate><channels>1</channels><datarate>44100</datarate><record>0</record><deviceID>0</deviceID></audio>
    <net><streamID>0</streamID><speed>500000</speed></net>
  </person>)";

std::string Config(const std::string& persons, int servers = 9) {
    std::string xml = "<kanvo><server>";
    for (int i = 0; i < servers; ++i) xml += "<s>http://svc/" + std::to_string(i) + "</s>";
    xml += "</server><game_list>"
           "<g name=\"Alpha\" main=\"alpha\" CompanyName=\"A Co\" LegalCopyright=\"(c) A\"/>"
           "<g name=\"Beta\" main=\"beta\" CompanyName=\"\" LegalCopyright=\"\"/>"
           "</game_list><system><p>bash</p><p>Xorg</p></system>" +
           persons + "</kanvo>";
    return xml;
}

std::string Plain(const std::string& file) {
    std::string text;
    EXPECT_TRUE(LoadEncrypted(file, text)) << file;
    return text;
}

class DataFiles : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directory(dir_.path() / "default"); }
    void Store(const std::string& name, const std::string& xml) { ASSERT_TRUE(SaveEncrypted(name, xml)); }

    TempDir dir_;
    ScopedChdir cd_{dir_.path()};
};

}  // namespace

TEST_F(DataFiles, ConstructedValuesBeforeAnyLoad) {
    CData data;
    EXPECT_EQ(0, data.BitRate());
    EXPECT_EQ((MY_DATA_SPACE::AudioRecord{0, 1, 0, 0, 0}), data.Audio());
    EXPECT_EQ((MY_DATA_SPACE::VideoRecord{1, 0, 0, 0, 0}), data.Video());
    EXPECT_EQ(0, data.Recording());
    EXPECT_EQ(0, data.UsrLoaded());
    EXPECT_EQ(0, data.PersonLoaded());
    EXPECT_EQ("", data.ServerAddress(0));
    EXPECT_EQ("", data.ServerAddress(9));
    EXPECT_FALSE(data.LoadPersonSettings());
}

TEST_F(DataFiles, MissingFilesFallBackToDefaultsAndExitWritesThePlainNames) {
    Store("default/usr.xml", "<usr version=\"2.1\"><login name=\"ann\" passwd=\"pw\" record_passwd=\"1\"/></usr>");
    Store("default/config.xml", Config(kDefaultPerson));
    {
        CData data;
        ASSERT_TRUE(data.LoadUserFile());
        ASSERT_TRUE(data.LoadConfigFile());
        EXPECT_EQ("2.1", data.Version());
        ASSERT_EQ(1u, data.RememberedUsers().size());
        EXPECT_EQ("ann", data.RememberedUsers()[0].name);
        EXPECT_EQ("pw", data.RememberedUsers()[0].password);
        EXPECT_TRUE(data.RememberedUsers()[0].remember);
        for (int i = 0; i < 9; ++i) EXPECT_EQ("http://svc/" + std::to_string(i), data.ServerAddress(i));
        ASSERT_EQ(2u, data.GameList().size());
        EXPECT_EQ("Alpha", data.GameList()[0].name);
        EXPECT_EQ("alpha", data.GameList()[0].main);
        EXPECT_EQ("A Co", data.GameList()[0].companyName);
        EXPECT_EQ("(c) A", data.GameList()[0].legalCopyright);
        EXPECT_EQ((std::vector<std::string>{"bash", "Xorg"}), data.SystemList());
    }
    EXPECT_TRUE(std::filesystem::exists("usr.xml"));
    EXPECT_TRUE(std::filesystem::exists("config.xml"));
    CData again;
    ASSERT_TRUE(again.LoadUserFile());
    EXPECT_EQ("2.1", again.Version());
}

TEST_F(DataFiles, NeitherFileReadableFailsAndWritesNothing) {
    Store("usr.xml", "<not-usr/>");
    {
        CData data;
        EXPECT_FALSE(data.LoadUserFile());
        EXPECT_FALSE(data.LoadConfigFile());
        EXPECT_EQ(0, data.UsrLoaded());
    }
    EXPECT_FALSE(std::filesystem::exists("config.xml"));
    // What could be parsed but not understood is kept as it was, not replaced by something else.
    EXPECT_EQ(0u, Plain("usr.xml").find("<not-usr/>"));
}

TEST_F(DataFiles, DamagedPlainFilesFallBackToTheirDefaults) {
    testsupport::WriteFile("usr.xml", "torn file");
    Store("config.xml", "<kanvo><server><s>a</s></server><game_list><g name=\"x\"></game_list></kanvo>");
    Store("default/usr.xml", "<usr version=\"1\"/>");
    Store("default/config.xml", Config(kDefaultPerson));
    {
        CData data;
        EXPECT_TRUE(data.LoadUserFile());
        EXPECT_TRUE(data.LoadConfigFile());
        EXPECT_EQ("http://svc/8", data.ServerAddress(8));
    }
    // What could not be used is kept, byte for byte, for someone to mend.
    EXPECT_EQ("torn file", testsupport::ReadFile("usr.xml.rejected"));
    EXPECT_NE(std::string::npos, Plain("config.xml.rejected").find("<g name=\"x\">"));
}

// A member's file that parses but is rejected holds other members' settings and logins: running
// on the defaults must never write them over it.
TEST_F(DataFiles, RejectedFilesAreKeptAsideBeforeTheDefaultsAreWritten) {
    Store("default/usr.xml", "<usr version=\"1\"/>");
    Store("default/config.xml", Config(kDefaultPerson));
    const std::string config = Config(Person("ann", "50") + Person("bob", "75"), 10);
    const std::string user =
        "<usr version=\"1\"><login name=\"ann\" passwd=\"a\" record_passwd=\"1\"/><login name=\"bob\"/></usr>";
    for (const char* kept : {".rejected", ".rejected.2"}) {  // an earlier one is never replaced
        SCOPED_TRACE(kept);
        Store("config.xml", config);
        Store("usr.xml", user);
        {
            CData data;
            ASSERT_TRUE(data.LoadUserFile());
            ASSERT_TRUE(data.LoadConfigFile());
            EXPECT_TRUE(data.RememberedUsers().empty());  // the defaults
            data.SetCurrentUser({"cid", "pw", true});
            ASSERT_TRUE(data.LoadPersonSettings());
            EXPECT_TRUE(data.SaveFiles());  // as at a broadcast start
        }                                   // and at Quit
        EXPECT_EQ(config, Plain(std::string("config.xml") + kept));
        EXPECT_EQ(user, Plain(std::string("usr.xml") + kept));
        EXPECT_NE(std::string::npos, Plain("config.xml").find("name=\"cid\""));
        EXPECT_NE(std::string::npos, Plain("usr.xml").find("name=\"cid\""));
    }
    EXPECT_EQ(config, Plain("config.xml.rejected"));
}

// Only Quit (and a broadcast start) write the files. Any other end of the process (the encoder's
// exit(1) on the timer thread, the exit after a bad game list) leaves them as they were.
TEST_F(DataFiles, ExitsOtherThanQuitWriteNothing) {
    Store("usr.xml", "<usr version=\"1\"><login name=\"ann\" passwd=\"a\" record_passwd=\"1\"/></usr>");
    Store("config.xml", Config(std::string(kDefaultPerson) + Person("ann", "50")));
    const std::string userBefore = testsupport::ReadFile("usr.xml");
    const std::string configBefore = testsupport::ReadFile("config.xml");
    const auto runThenExit = [](bool fromAnotherThread, int status) {
        CData& data = MY_DATA_SPACE::GetData();
        if (!data.LoadUserFile() || !data.LoadConfigFile()) std::_Exit(99);
        data.SetCurrentUser({"newbie", "pw", true});
        data.LoadPersonSettings();
        data.SetBitRate(1000000);
        if (fromAnotherThread) std::thread([status] { std::exit(status); }).join();
        std::exit(status);
    };
    EXPECT_EXIT(runThenExit(true, 1), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(runThenExit(false, 0), ::testing::ExitedWithCode(0), "");
    EXPECT_TRUE(userBefore == testsupport::ReadFile("usr.xml")) << "usr.xml was written";
    EXPECT_TRUE(configBefore == testsupport::ReadFile("config.xml")) << "config.xml was written";
}

TEST_F(DataFiles, StructuralFaultsFailTheLoad) {
    Store("default/usr.xml", "<usr version=\"1\"/>");
    struct Case {
        const char* what;
        std::string xml;
    } cases[] = {
        {"ten server children", Config(kDefaultPerson, 10)},
        {"no root", "<other/>"},
        {"no server element", "<kanvo><game_list/></kanvo>"},
        {"game without main", "<kanvo><server/><game_list><g name=\"a\"/></game_list></kanvo>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Store("config.xml", c.xml);
        CData data;
        EXPECT_FALSE(data.LoadConfigFile());
        std::filesystem::remove("config.xml");
    }
    Store("usr.xml", "<usr version=\"1\"><login name=\"a\" passwd=\"\"/></usr>");
    std::filesystem::remove("default/usr.xml");
    CData data;
    EXPECT_FALSE(data.LoadUserFile());
}

TEST_F(DataFiles, FirstLoginGetsTheDefaultEntryAndExitAddsTheUsersOwn) {
    Store("usr.xml", "<usr version=\"1\"/>");
    Store("config.xml", Config(kDefaultPerson));
    {
        CData data;
        ASSERT_TRUE(data.LoadUserFile());
        ASSERT_TRUE(data.LoadConfigFile());
        data.SetCurrentUser({"newbie", "pw", false});
        ASSERT_TRUE(data.LoadPersonSettings());
        EXPECT_EQ(500000, data.BitRate());
        EXPECT_EQ(10, data.Video().frameRate);
        EXPECT_EQ(100, data.Video().sizePercent);
        EXPECT_EQ(0, data.Audio().enabled);
        auto video = data.Video();
        video.frameRate = 15;
        video.sizePercent = 75;
        data.SetVideo(video);
        data.SetBitRate(700000);
    }
    const std::string config = Plain("config.xml");
    EXPECT_NE(std::string::npos, config.find("<person name=\"\">"));
    EXPECT_NE(std::string::npos, config.find("<person name=\"newbie\">"));

    CData data;
    ASSERT_TRUE(data.LoadConfigFile());
    data.SetCurrentUser({"newbie", "", false});
    ASSERT_TRUE(data.LoadPersonSettings());
    EXPECT_EQ(700000, data.BitRate());
    EXPECT_EQ(15, data.Video().frameRate);
    EXPECT_EQ(75, data.Video().sizePercent);

    CData other;  // the default entry is unchanged
    ASSERT_TRUE(other.LoadConfigFile());
    other.SetCurrentUser({"someone", "", false});
    ASSERT_TRUE(other.LoadPersonSettings());
    EXPECT_EQ(500000, other.BitRate());
    EXPECT_EQ(100, other.Video().sizePercent);
}

TEST_F(DataFiles, PersonEntryIsReadByPositionAndWrittenWhole) {
    std::string odd = Person("ann", "50");
    odd.replace(odd.find("<quality>2</quality>"), 20, "<q>2</q>");  // another name, same place
    Store("config.xml", Config(std::string(kDefaultPerson) + odd));
    {
        CData data;
        ASSERT_TRUE(data.LoadConfigFile());
        data.SetCurrentUser({"ann", "", false});
        ASSERT_TRUE(data.LoadPersonSettings());
        EXPECT_EQ((MY_DATA_SPACE::VideoRecord{1, 15, 2, 3, 50}), data.Video());
        EXPECT_EQ((MY_DATA_SPACE::AudioRecord{22050, 1, 44100, 2, 1}), data.Audio());
        EXPECT_EQ(1, data.Recording());
        EXPECT_EQ("/tmp/x.flv", data.SaveFile());
        EXPECT_EQ("s9", data.StreamId());
        EXPECT_EQ(800000, data.BitRate());
        data.SetRecording(0);
    }
    const std::string config = Plain("config.xml");
    // Exactly one entry for ann, rewritten with the listed names and no save path when not recording.
    EXPECT_EQ(config.find("name=\"ann\""), config.rfind("name=\"ann\""));
    EXPECT_NE(std::string::npos, config.find("<quality>2</quality>"));
    EXPECT_EQ(std::string::npos, config.find("/tmp/x.flv"));
    EXPECT_NE(std::string::npos, config.find("<frame_rate num=\"1\" den=\"15\"/>"));
}

TEST_F(DataFiles, NumbersReadAsLeadingDigits) {
    std::string p = Person("ann", "75%");
    p.replace(p.find("<speed>800000</speed>"), 21, "<speed>fast</speed>");
    p.replace(p.find("<record>1</record>"), 18, "<record>yes</record>");
    Store("config.xml", Config(p));
    CData data;
    ASSERT_TRUE(data.LoadConfigFile());
    data.SetCurrentUser({"ann", "", false});
    ASSERT_TRUE(data.LoadPersonSettings());
    EXPECT_EQ(75, data.Video().sizePercent);
    EXPECT_EQ(0, data.BitRate());
    EXPECT_EQ(0, data.Recording());
}

TEST_F(DataFiles, DamagedOwnEntryFallsBackToTheDefaultEntry) {
    Store("config.xml", Config(std::string(kDefaultPerson) + "<person name=\"ann\"><video/></person>"));
    CData data;
    ASSERT_TRUE(data.LoadConfigFile());
    data.SetCurrentUser({"ann", "", false});
    ASSERT_TRUE(data.LoadPersonSettings());
    EXPECT_EQ(500000, data.BitRate());
}

TEST_F(DataFiles, WithoutAnyPersonEntryNothingIsWrittenForTheUser) {
    Store("config.xml", Config(""));
    {
        CData data;
        ASSERT_TRUE(data.LoadConfigFile());
        data.SetCurrentUser({"ann", "", false});
        EXPECT_FALSE(data.LoadPersonSettings());
        EXPECT_EQ(0, data.BitRate());
        data.SetBitRate(5);
    }
    EXPECT_EQ(std::string::npos, Plain("config.xml").find("<person"));
}

TEST_F(DataFiles, LoginOrderAndRememberedPasswordAtExit) {
    Store("usr.xml",
          "<usr version=\"1\">"
          "<login name=\"ann\" passwd=\"a\" record_passwd=\"1\"/>"
          "<login name=\"bob\" passwd=\"b\" record_passwd=\"1\"/>"
          "<login name=\"cid\" passwd=\"\" record_passwd=\"0\"/>"
          "</usr>");
    {
        CData data;
        ASSERT_TRUE(data.LoadUserFile());
        data.SetCurrentUser({"cid", "secret", true});
    }
    {
        CData data;
        ASSERT_TRUE(data.LoadUserFile());
        const auto& users = data.RememberedUsers();
        ASSERT_EQ(3u, users.size());
        EXPECT_EQ("cid", users[0].name);
        EXPECT_EQ("secret", users[0].password);
        EXPECT_TRUE(users[0].remember);
        EXPECT_EQ("ann", users[1].name);
        EXPECT_EQ("bob", users[2].name);
        data.SetCurrentUser({"bob", "typed", false});  // remember box unticked
    }
    CData data;
    ASSERT_TRUE(data.LoadUserFile());
    const auto& users = data.RememberedUsers();
    ASSERT_EQ(3u, users.size());
    EXPECT_EQ("bob", users[0].name);
    EXPECT_EQ("", users[0].password);
    EXPECT_FALSE(users[0].remember);
    EXPECT_NE(std::string::npos, Plain("usr.xml").find("record_passwd=\"0\""));
}

TEST_F(DataFiles, GlobalAccessorCreatesOnceAndDestroyWritesBack) {
    Store("default/usr.xml", "<usr version=\"3\"/>");
    MY_DATA_SPACE::CData& first = MY_DATA_SPACE::GetData();
    EXPECT_EQ(&first, &MY_DATA_SPACE::GetData());
    ASSERT_TRUE(first.LoadUserFile());
    first.SetCurrentUser({"dee", "pw", true});
    MY_DATA_SPACE::DestroyData();
    EXPECT_NE(std::string::npos, Plain("usr.xml").find("name=\"dee\""));
    EXPECT_EQ(0, MY_DATA_SPACE::GetData().UsrLoaded());  // a fresh object
    MY_DATA_SPACE::DestroyData();
}

namespace {
struct CountingHandle : HttpHandle {
    explicit CountingHandle(int* closed) : closed_(closed) {}
    ~CountingHandle() override { ++*closed_; }
    int* closed_;
};
}  // namespace

TEST_F(DataFiles, HttpSlotsCloseWhatTheyHeld) {
    int closed = 0;
    {
        CData data;
        data.SetSession(std::make_unique<CountingHandle>(&closed));
        data.SetConnection(std::make_unique<CountingHandle>(&closed));
        data.SetSession(std::make_unique<CountingHandle>(&closed));
        EXPECT_EQ(1, closed);
    }
    EXPECT_EQ(3, closed);
}
