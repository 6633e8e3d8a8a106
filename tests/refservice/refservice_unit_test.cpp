// Pieces of the reference service on their own: form parsing, text rules, password hashes, the
// database's state rules, markup escaping, the update description and the server's stop.
#include <gtest/gtest.h>

#include <rapidxml/rapidxml.hpp>
#include <sqlite3.h>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "FormData.h"
#include "LoginThrottle.h"
#include "Markup.h"
#include "PasswordHash.h"
#include "ServiceConfig.h"
#include "ServiceServer.h"
#include "ServiceStore.h"
#include "TempDir.h"
#include "TextRules.h"
#include "UpdateDescription.h"

using testsupport::TempDir;
using testsupport::WriteFile;

TEST(FormData, ParsesTheBroadcastersBodies)
{
    const auto login = FormData::Parse("username=demo&password=a%2Fb%26c%3D");
    EXPECT_EQ(login.Get("username"), "demo");
    EXPECT_EQ(login.Get("password"), "a/b&c=");

    // The stream request puts a space before "&title=".
    const auto stream = FormData::Parse("gid=3 &title=%E4%BD%A0%E5%A5%BD+world");
    EXPECT_EQ(stream.Get("gid"), "3 ");
    EXPECT_EQ(stream.GetTrimmed("gid"), "3");
    EXPECT_EQ(stream.Get("title"), "你好 world");

    const auto empty = FormData::Parse("gid= &title=x");
    EXPECT_EQ(empty.GetTrimmed("gid"), "");
}

TEST(FormData, KeepsMalformedInputWithoutFailing)
{
    const auto form = FormData::Parse("&&a&=x&b=%zz%4&c=%&d==1&a=second&title=原样");
    EXPECT_EQ(form.Get("a"), "");          // the first "a" has no "=" and wins
    EXPECT_EQ(form.Get(""), "x");
    EXPECT_EQ(form.Get("b"), "%zz%4");     // broken escapes stay literal
    EXPECT_EQ(form.Get("c"), "%");
    EXPECT_EQ(form.Get("d"), "=1");
    EXPECT_EQ(form.Get("title"), "原样");  // raw UTF-8 as typed
    EXPECT_FALSE(form.Get("missing"));
    EXPECT_EQ(FormData::Parse("").Size(), 0u);
    EXPECT_EQ(FormData::Decode("%00"), std::string(1, '\0'));
}

TEST(TextRules, NamesPasswordsAndIds)
{
    EXPECT_TRUE(TextRules::IsValidUserName("demo"));
    EXPECT_TRUE(TextRules::IsValidUserName("玩家_01"));
    EXPECT_FALSE(TextRules::IsValidUserName("a"));
    EXPECT_FALSE(TextRules::IsValidUserName("x' OR '1'='1"));
    EXPECT_FALSE(TextRules::IsValidUserName("a&b"));
    EXPECT_FALSE(TextRules::IsValidUserName("name with space"));
    EXPECT_FALSE(TextRules::IsValidUserName("\xff\xfe"));
    EXPECT_FALSE(TextRules::IsValidUserName(std::string(33, 'a')));
    // Invisible or private characters: zero-width space, joiner, direction marks and overrides,
    // an isolate, a C1 control, private use, an ideographic space.
    for (const char* name : {"de\u200Bmo", "de\u200Dmo", "de\u200Fmo", "de\u202Emo", "de\u2066mo", "de\u0085mo",
                             "de\uE000mo", "de\u3000mo", "\uFEFFdemo"}) {
        EXPECT_FALSE(TextRules::IsValidUserName(name)) << name;
    }
    // Look-alikes of a member's name: Cyrillic "е", full-width letters, "rn" for "m"; a
    // different name is not one.
    EXPECT_TRUE(TextRules::LooksLikeAny("d\u0435mo", {"alice", "demo"}));
    EXPECT_TRUE(TextRules::LooksLikeAny("\uFF44\uFF45\uFF4D\uFF4F", {"demo"}));
    EXPECT_TRUE(TextRules::LooksLikeAny("derno", {"demo"}));
    EXPECT_FALSE(TextRules::LooksLikeAny("demo2", {"demo", "玩家_01"}));
    EXPECT_TRUE(TextRules::IsValidPassword("a/b&c d'\";--"));
    EXPECT_FALSE(TextRules::IsValidPassword("short"));
    EXPECT_FALSE(TextRules::IsValidPassword("tab\there"));
    EXPECT_TRUE(TextRules::IsId("42"));
    EXPECT_FALSE(TextRules::IsId("1 OR 1=1"));
    EXPECT_FALSE(TextRules::IsId(""));
    EXPECT_FALSE(TextRules::IsId(std::string(19, '9')));
}

TEST(TextRules, CleanRepairsAndCutsAtCharacterBoundaries)
{
    EXPECT_EQ(TextRules::Clean("ok\x01\n", 100), "ok");
    EXPECT_EQ(TextRules::Clean("a\nb\tc", 100, true), "a\nb\tc");
    EXPECT_EQ(TextRules::Clean("\xffz", 100), "\xEF\xBF\xBDz");
    EXPECT_EQ(TextRules::Clean("\xC0\xAF", 100), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong "/"
    EXPECT_EQ(TextRules::Clean("你好", 5), "你");  // 3 + 3 bytes: the second does not fit
    EXPECT_TRUE(TextRules::IsUtf8(TextRules::Clean(std::string("\xE4\xBD", 2) + "x", 100)));
    // Bidirectional controls would turn the text after them around on the page; C1 controls
    // are controls too. Other non-ASCII text stays.
    EXPECT_EQ(TextRules::Clean("a\u202Eb\u2067c\u200Ed\u061Ce\u0085f\u009Bg", 100), "abcdefg");
    EXPECT_EQ(TextRules::Clean("é\u00A0你\u2028", 100, true), "é\u00A0你\u2028");
}

TEST(LoginThrottle, FailuresLockForLongerAndLongerAndASuccessForgets)
{
    using namespace std::chrono_literals;
    LoginThrottle throttle;
    auto now = LoginThrottle::Clock::now();
    for (int i = 0; i < LoginThrottle::kFreeFailuresPerPair; ++i) {
        EXPECT_FALSE(throttle.Locked("demo", "10.0.0.1", now));
        throttle.Failed("demo", "10.0.0.1", now);
    }
    EXPECT_FALSE(throttle.Locked("demo", "10.0.0.2", now));
    throttle.Failed("demo", "10.0.0.1", now);  // the first failure over the free ones: 1 s
    // The name from the failing address is locked; the member elsewhere is not.
    EXPECT_TRUE(throttle.Locked("demo", "10.0.0.1", now + 999ms));
    EXPECT_FALSE(throttle.Locked("demo", "10.0.0.1", now + 1s));
    EXPECT_FALSE(throttle.Locked("demo", "10.0.0.2", now + 999ms));
    EXPECT_FALSE(throttle.Locked("alice", "10.0.0.1", now));  // the name, not the address
    now += 1s;
    throttle.Failed("demo", "10.0.0.1", now);  // 2 s
    EXPECT_TRUE(throttle.Locked("demo", "10.0.0.1", now + 1999ms));
    EXPECT_FALSE(throttle.Locked("demo", "10.0.0.1", now + 2s));
    // Without an address (a password change) the name alone counts.
    for (int i = 0; i < 30; ++i) throttle.Failed("demo", "", now += 1h / 2);
    EXPECT_TRUE(throttle.Locked("demo", "", now + LoginThrottle::kLongestLock - 1s));
    EXPECT_FALSE(throttle.Locked("demo", "", now + LoginThrottle::kLongestLock));
    throttle.Succeeded("demo", "", now);
    throttle.Failed("demo", "", now);
    EXPECT_FALSE(throttle.Locked("demo", "", now));

    // One address trying many names is locked as a whole; its failures do not lock the names.
    for (int i = 0; i < LoginThrottle::kFreeFailuresPerAddress + 1; ++i) {
        throttle.Failed("guess" + std::to_string(i), "10.0.0.9", now);
    }
    EXPECT_TRUE(throttle.Locked("anyone", "10.0.0.9", now));
    EXPECT_FALSE(throttle.Locked("guess1", "10.0.0.8", now));
}

// Member names are public: whatever a stranger sends must not keep the member's right password
// out. One guesser at one address, a guesser with many addresses, and one address spraying a
// password over many names, each for an hour or two at one try a second.
TEST(LoginThrottle, AGuesserGetsNothingAndTheMemberStillLogsIn)
{
    using namespace std::chrono_literals;
    const std::string attacker = "203.0.113.7";
    const std::string home = "198.51.100.2";
    {
        LoginThrottle throttle;
        const auto start = LoginThrottle::Clock::now();
        auto now = start;
        int looked = 0;
        for (; now < start + 2h; now += 1s) {
            if (!throttle.Locked("demo", attacker, now)) {
                ++looked;
                throttle.Failed("demo", attacker, now);
            }
            if ((now - start) % 10min == 0s) {
                EXPECT_FALSE(throttle.Locked("demo", home, now)) << "the member at " << (now - start) / 1s << " s";
                throttle.Succeeded("demo", home, now);
            }
        }
        // 7200 guesses, of which the free ones and one at the end of each lock were looked at;
        // the right password now is refused unseen.
        EXPECT_LE(looked, 30);
        EXPECT_TRUE(throttle.Locked("demo", attacker, now));
        EXPECT_FALSE(throttle.Locked("demo", "192.0.2.44", now));
    }
    {
        // Many addresses: each new one gets a try, and after a failure it is slowed, while a
        // clean address (the member on a new device) is still let in, and the member's own
        // address keeps its free failures.
        LoginThrottle throttle;
        auto now = LoginThrottle::Clock::now();
        throttle.Succeeded("demo", home, now);
        for (int i = 0; i < 500; ++i, now += 1s) {
            const std::string bot = "10.7." + std::to_string(i / 250) + "." + std::to_string(i % 250);
            if (!throttle.Locked("demo", bot, now)) throttle.Failed("demo", bot, now);
        }
        EXPECT_FALSE(throttle.Locked("demo", "192.0.2.1", now));
        throttle.Failed("demo", "192.0.2.1", now);
        EXPECT_TRUE(throttle.Locked("demo", "192.0.2.1", now));
        EXPECT_FALSE(throttle.Locked("demo", "192.0.2.1", now + LoginThrottle::kFirstLock));
        throttle.Failed("demo", home, now);
        EXPECT_FALSE(throttle.Locked("demo", home, now));
    }
    {
        // Spraying from a shared address: it is held to about a guess a minute, a member who
        // logs in from there is never refused, and a member new to it gets in a minute after
        // the spraying stops.
        LoginThrottle throttle;
        const std::string shared = "100.64.0.1";
        auto now = LoginThrottle::Clock::now();
        throttle.Succeeded("alice", shared, now);
        int looked = 0;
        for (int i = 0; i < 3600; ++i, now += 1s) {
            const std::string name = "name" + std::to_string(i);
            if (!throttle.Locked(name, shared, now)) {
                ++looked;
                throttle.Failed(name, shared, now);
            }
            if (i % 60 == 0) {
                EXPECT_FALSE(throttle.Locked("alice", shared, now)) << "alice at " << i << " s";
            }
        }
        EXPECT_LE(looked, LoginThrottle::kFreeFailuresPerAddress + 70);
        EXPECT_TRUE(throttle.Locked("bob", shared, now));
        EXPECT_FALSE(throttle.Locked("bob", shared, now + LoginThrottle::kLongestAddressLock));
    }
}

TEST(Markup, EscapesWhatEndsTextOrAQuotedAttribute)
{
    const struct {
        const char* text;
        const char* escaped;
    } cases[] = {
        {"plain 文本", "plain 文本"},
        {"", ""},
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
        {"a & b &amp;", "a &amp; b &amp;amp;"},
        {"\"double\" 'single'", "&quot;double&quot; &#39;single&#39;"},
    };
    for (const auto& c : cases) EXPECT_EQ(Markup::Escape(c.text), c.escaped) << c.text;
}

TEST(FormData, ParsesTheQueryOfARequestTarget)
{
    EXPECT_EQ(FormData::ParseQuery("/api/end?lid=12").Get("lid"), "12");
    EXPECT_EQ(FormData::ParseQuery("/index.php?m=member&c=index&a=member_goto_api&p=2").Get("p"), "2");
    EXPECT_EQ(FormData::ParseQuery("/live/room?lid=%31+").GetTrimmed("lid"), "1");
    EXPECT_EQ(FormData::ParseQuery("/member/").Size(), 0u);
    EXPECT_EQ(FormData::ParseQuery("/member/?").Size(), 0u);
}

TEST(PasswordHash, SaltedAndVerified)
{
    const auto a = PasswordHash::Make("secret-1", 1000);
    const auto b = PasswordHash::Make("secret-1", 1000);
    EXPECT_NE(a, b);  // salted
    EXPECT_EQ(a.find("secret"), std::string::npos);
    EXPECT_EQ(a.rfind("pbkdf2-sha256$1000$", 0), 0u);
    EXPECT_TRUE(PasswordHash::Verify("secret-1", a));
    EXPECT_FALSE(PasswordHash::Verify("secret-2", a));
    EXPECT_FALSE(PasswordHash::Verify("", a));
    for (const char* broken : {"", "secret-1", "pbkdf2-sha256$x$00$00", "pbkdf2-sha256$1000$zz$00",
                               "md5$1000$0011$0011", "pbkdf2-sha256$99999999999$00$00",
                               "pbkdf2-sha256$1000$0011$0011"}) {
        EXPECT_FALSE(PasswordHash::Verify("secret-1", broken)) << broken;
    }
    EXPECT_EQ(PasswordHash::RandomHex(16).size(), 32u);
    EXPECT_NE(PasswordHash::RandomHex(16), PasswordHash::RandomHex(16));
    EXPECT_EQ(PasswordHash::Sha256Hex("abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

class StoreTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string path = dir / "strimo.db";
};

TEST_F(StoreTest, UserTextNeverBecomesSql)
{
    const std::string evil = "x'); DROP TABLE users; --";
    {
        ServiceStore store(path);
        store.SeedGames({{"1", "Game"}, {"99", "其他"}});
        EXPECT_EQ(store.AddUser(evil, "h1"), ServiceStore::AddUserResult::Added);
        EXPECT_EQ(store.AddUser("demo", "h2"), ServiceStore::AddUserResult::Added);
        EXPECT_EQ(store.AddUser("demo", "h3"), ServiceStore::AddUserResult::Exists);
        const auto user = store.FindUser(evil);
        ASSERT_TRUE(user);
        const auto lid = store.CreateRoom(user->id, "1' OR '1'='1", "'; DELETE FROM rooms; --", "s1", "127.0.0.1");
        EXPECT_EQ(store.FindRoom(lid)->title, "'; DELETE FROM rooms; --");
        EXPECT_FALSE(store.FindGame("1' OR '1'='1"));
        EXPECT_FALSE(store.FindUser("' OR 1=1 --"));
    }
    ServiceStore reopened(path);  // the file survives a restart with everything in it
    EXPECT_EQ(reopened.FindUser("demo")->passwordHash, "h2");
    EXPECT_TRUE(reopened.FindUser(evil));
    EXPECT_EQ(reopened.Games().size(), 2u);
    EXPECT_TRUE(reopened.FindRoomByStream("s1"));
}

TEST_F(StoreTest, SeedingHappensOnlyOnce)
{
    ServiceStore store(path);
    store.SeedGames({{"1", "A"}, {"2", "B"}});
    store.SeedGames({{"7", "C"}});
    const auto games = store.Games();
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].gname, "A");
    EXPECT_EQ(games[1].gid, "2");
}

TEST_F(StoreTest, SessionsAreKeptByHashAndEndWithAPasswordChange)
{
    ServiceStore store(path);
    store.AddUser("demo", "h");
    const auto id = store.FindUser("demo")->id;
    store.CreateSession(id, "hash-of-token");
    EXPECT_EQ(store.SessionUser("hash-of-token")->name, "demo");
    EXPECT_FALSE(store.SessionUser("other"));
    EXPECT_TRUE(store.SetPasswordHash("demo", "h2"));
    EXPECT_FALSE(store.SessionUser("hash-of-token"));
    EXPECT_FALSE(store.SetPasswordHash("nobody", "h"));
}

// Look-alike names are found by one lookup of the new name's skeleton, which every member's row
// holds; a file made before the rows held it is brought up to date when it is opened, and
// keeps whatever look-alikes it already had.
TEST_F(StoreTest, LookAlikesAreFoundInFilesOfEveryVersion)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const char* earlier =
        "CREATE TABLE users(id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, pass TEXT NOT NULL,"
        " created INTEGER NOT NULL);"
        "CREATE TABLE sessions(token_hash TEXT PRIMARY KEY, user_id INTEGER NOT NULL REFERENCES users(id),"
        " created INTEGER NOT NULL);"
        "INSERT INTO users VALUES(1, 'demo', 'h1', 1000), (2, 'rnoon', 'h2', 1000), (3, 'moon', 'h3', 1000);"
        "INSERT INTO sessions VALUES('kept', 1, strftime('%s','now'));";
    ASSERT_EQ(sqlite3_exec(db, earlier, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    using R = ServiceStore::AddUserResult;
    {
        ServiceStore store(path);
        EXPECT_EQ(store.FindUser("demo")->passwordHash, "h1");
        EXPECT_EQ(store.SessionUser("kept")->name, "demo");
        for (const char* alike : {"d\u0435mo", "\uFF44\uFF45\uFF4D\uFF4F", "derno", "rnoon"}) {
            EXPECT_NE(store.AddUser(alike, "h"), R::Added) << alike;
        }
        EXPECT_TRUE(store.LooksLikeAMember("d\u0435mo"));
        EXPECT_FALSE(store.LooksLikeAMember("demo"));  // the member's own name
        EXPECT_EQ(store.AddUser("demo", "h"), R::Exists);
        EXPECT_EQ(store.AddUser("newbie", "h"), R::Added);
        EXPECT_NE(store.AddUser("newb\u0456e", "h"), R::Added);  // Cyrillic "i" of a new member
        EXPECT_EQ(store.AddUser("demo2", "h"), R::Added);
    }
    // A member that an earlier version added to the upgraded file is found as well.
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "INSERT INTO users(name, pass, created) VALUES('alice', 'h', 1000)", nullptr, nullptr,
                           nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    ServiceStore store(path);
    EXPECT_NE(store.AddUser("\u0430lice", "h"), R::Added);
    EXPECT_EQ(store.FindUser("rnoon")->passwordHash, "h2");
}

TEST_F(StoreTest, SessionsExpire)
{
    {
        ServiceStore store(path);
        store.AddUser("demo", "h");
    }
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    const int rc = sqlite3_exec(db, "INSERT INTO sessions VALUES('from-long-ago', 1, 1000)", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK);
    ServiceStore store(path);
    EXPECT_FALSE(store.SessionUser("from-long-ago"));
    store.CreateSession(1, "fresh");
    EXPECT_TRUE(store.SessionUser("fresh"));
    // Expired rows are deleted, live ones stay; a log-out deletes its own.
    EXPECT_EQ(store.PurgeExpiredSessions(), 1);
    EXPECT_EQ(store.PurgeExpiredSessions(), 0);
    EXPECT_TRUE(store.SessionUser("fresh"));
    store.EndSession("fresh");
    EXPECT_FALSE(store.SessionUser("fresh"));
}

TEST_F(StoreTest, PublishRules)
{
    ServiceStore store(path);
    store.AddUser("demo", "h");
    const auto id = store.FindUser("demo")->id;
    const auto lid = store.CreateRoom(id, "1", "t", "sname", "127.0.0.1");
    using R = ServiceStore::PublishResult;

    EXPECT_EQ(store.StartPublish("made-up", 60), R::Unknown);
    EXPECT_EQ(store.StartPublish("sname", 60), R::Accepted);
    EXPECT_EQ(store.FindRoom(lid)->state, ServiceStore::RoomState::Live);
    EXPECT_EQ(store.StartPublish("sname", 60), R::Refused);  // a second publisher while live

    store.PublishDone("sname");
    EXPECT_EQ(store.FindRoom(lid)->state, ServiceStore::RoomState::Ended);
    EXPECT_EQ(store.StartPublish("sname", 60), R::Accepted);  // the one reconnection
    store.PublishDone("sname");
    EXPECT_EQ(store.StartPublish("sname", -1), R::Refused);   // grace over

    EXPECT_EQ(store.EndByNotice(lid, "127.0.0.1"), ServiceStore::EndResult::Ended);
    EXPECT_EQ(store.StartPublish("sname", 60), R::Refused);   // ended rooms stay ended
    EXPECT_EQ(store.EndByNotice(lid, "127.0.0.1"), ServiceStore::EndResult::AlreadyEnded);
}

TEST_F(StoreTest, ARestartedStreamingServerLeavesNoRoomLive)
{
    ServiceStore store(path);
    store.AddUser("demo", "h");
    const auto id = store.FindUser("demo")->id;
    const auto live = store.CreateRoom(id, "1", "t", "s-live", "a");
    const auto issued = store.CreateRoom(id, "1", "t", "s-issued", "a");
    store.StartPublish("s-live", 60);
    EXPECT_EQ(store.EndAllLive(), 1);
    EXPECT_EQ(store.FindRoom(live)->state, ServiceStore::RoomState::Ended);
    EXPECT_EQ(store.FindRoom(issued)->state, ServiceStore::RoomState::Issued);
    EXPECT_TRUE(store.LiveRooms().empty());
    // The broadcaster's reconnection to the new server still finds its room.
    EXPECT_EQ(store.StartPublish("s-live", 60), ServiceStore::PublishResult::Accepted);
}

TEST_F(StoreTest, EndNoticeOnlyFromTheRoomsOwnerAddress)
{
    ServiceStore store(path);
    store.AddUser("demo", "h");
    const auto lid = store.CreateRoom(store.FindUser("demo")->id, "1", "t", "sname", "10.1.2.3");
    store.StartPublish("sname", 60);
    EXPECT_EQ(store.EndByNotice(lid, "10.9.9.9"), ServiceStore::EndResult::NotOwner);
    EXPECT_EQ(store.FindRoom(lid)->state, ServiceStore::RoomState::Live);
    EXPECT_EQ(store.EndByNotice(lid + 1, "10.1.2.3"), ServiceStore::EndResult::NotFound);
    EXPECT_EQ(store.EndByNotice(lid, "10.1.2.3"), ServiceStore::EndResult::Ended);
    EXPECT_EQ(store.FindRoom(lid)->endReason, "notice");
    EXPECT_TRUE(store.LiveRooms().empty());
}

TEST_F(StoreTest, ConcurrentWritersAllLand)
{
    ServiceStore store(path);
    store.AddUser("demo", "h");
    const auto id = store.FindUser("demo")->id;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                store.CreateRoom(id, "1", "t", "s" + std::to_string(t) + "-" + std::to_string(i), "a");
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(store.RoomsOfUser(id, 1000).size(), 200u);
}

TEST(UpdateDescription, ListsAFolderParentsFirst)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path() / "res/icons");
    WriteFile(dir / "res/icons/a.png", "png");
    WriteFile(dir / "res/b.txt", "b");
    WriteFile(dir / "strimo", "bin");
    WriteFile(dir / "updata.xml", "old description, not listed");
    UpdateDescription::Options options{"12", {"old.txt"}, {"old"}};
    std::string xml = UpdateDescription::Build(dir.path(), options);

    rapidxml::xml_document<> doc;
    doc.parse<0>(xml.data());
    const auto* root = doc.first_node("updata");
    ASSERT_TRUE(root);
    EXPECT_STREQ(root->first_attribute("version")->value(), "12");
    auto entries = [&](const char* section) {
        std::vector<std::string> out;
        const auto* node = root->first_node(section);
        EXPECT_TRUE(node) << section;
        for (auto* child = node ? node->first_node() : nullptr; child; child = child->next_sibling()) {
            out.emplace_back(child->value());
        }
        return out;
    };
    EXPECT_EQ(entries("directory"), (std::vector<std::string>{"res", "res/icons"}));
    EXPECT_EQ(entries("file"), (std::vector<std::string>{"res/b.txt", "res/icons/a.png", "strimo"}));
    EXPECT_EQ(entries("delete_directory"), std::vector<std::string>{"old"});
    EXPECT_EQ(entries("delete_file"), std::vector<std::string>{"old.txt"});
}

TEST(UpdateDescription, RefusesWhatTheUpdaterCannotUse)
{
    TempDir dir;
    WriteFile(dir / "a.txt", "a");
    EXPECT_THROW(UpdateDescription::Build(dir.path(), {"1.2", {}, {}}), std::runtime_error);
    EXPECT_THROW(UpdateDescription::Build(dir.path(), {"", {}, {}}), std::runtime_error);
    EXPECT_THROW(UpdateDescription::Build(dir.path(), {"3", {"../x"}, {}}), std::runtime_error);
    WriteFile(dir / "back\\slash", "x");
    EXPECT_THROW(UpdateDescription::Build(dir.path(), {"3", {}, {}}), std::runtime_error);
    for (const char* bad : {"", "/etc/passwd", "a/../b", "..", "./a", "a//b", "a/", "a\\b", "a\nb"}) {
        EXPECT_FALSE(UpdateDescription::IsSafeRelativePath(bad)) << bad;
    }
    EXPECT_TRUE(UpdateDescription::IsSafeRelativePath("res/updata.gif"));
}

// Paths with markup characters are escaped, and an XML reader (the updater uses rapidxml with its
// default flags, as here) reads each back exactly as it stands in the folder.
TEST(UpdateDescription, PathsWithMarkupReadBackAsTheyAre)
{
    TempDir dir;
    const std::string name = "it's \"new\" & <better>.txt";
    WriteFile(dir / name, "x");
    std::string xml = UpdateDescription::Build(dir.path(), {"4", {"o'ld & <gone>.txt"}, {}});
    EXPECT_EQ(xml.find("<better>"), std::string::npos);
    rapidxml::xml_document<> doc;
    doc.parse<0>(xml.data());
    const auto* root = doc.first_node("updata");
    ASSERT_TRUE(root);
    ASSERT_TRUE(root->first_node("file")->first_node());
    EXPECT_STREQ(root->first_node("file")->first_node()->value(), name.c_str());
    ASSERT_TRUE(root->first_node("delete_file")->first_node());
    EXPECT_STREQ(root->first_node("delete_file")->first_node()->value(), "o'ld & <gone>.txt");
}

// An operator's SIGTERM can arrive as soon as the service says it listens, before it serves: the
// stop must not be lost, or the service runs on for ever.
TEST_F(StoreTest, AStopBeforeServingEndsTheServerAtOnce)
{
    ServiceStore store(path);
    ServiceConfig config;
    config.port = 0;
    config.dataDir = dir.path().string();
    ServiceServer server(config, store);
    ASSERT_GT(server.Bind(), 0);
    server.Stop();
    auto served = std::async(std::launch::async, [&] { return server.Run(); });
    const bool ended = served.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    if (!ended) server.Stop();  // now that it serves, so the test can end
    EXPECT_TRUE(ended) << "the stop before serving was lost";
    EXPECT_TRUE(served.get());
}
