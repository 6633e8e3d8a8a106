// Pieces of the reference service on their own: form parsing, text rules, password hashes,
// markup escaping, the update description and the server's stop.
#include <gtest/gtest.h>

#include <rapidxml/rapidxml.hpp>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "FormData.h"
#include "Markup.h"
#include "PasswordHash.h"
#include "ServiceConfig.h"
#include "ServiceServer.h"
#include "SqliteStore.h"
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
TEST(ServiceServer, AStopBeforeServingEndsTheServerAtOnce)
{
    TempDir dir;
    SqliteStore store(dir / "strimo.db");
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
