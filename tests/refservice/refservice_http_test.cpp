// The reference service as the programs meet it: a real strimo-service process on a loopback
// port, asked over HTTP exactly as the broadcaster, nginx, the updater and browsers ask.
#include <gtest/gtest.h>

#include <httplib.h>
#include <json/json.h>
#include <rapidxml/rapidxml.hpp>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "ServiceProcess.h"
#include "TempDir.h"

using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::string kBinary = STRIMO_SERVICE_BIN;
const std::string kRtmpUrl = "rtmp://127.0.0.1:11999/live";

// Runs a strimo-service command with `input` on its standard input; returns its exit status.
int RunCommand(const std::string& args, const std::string& input = {})
{
    FILE* pipe = popen((kBinary + " " + args + " >/dev/null 2>&1").c_str(), "w");
    if (!pipe) return -1;
    fputs(input.c_str(), pipe);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool IsHexName(const std::string& name)
{
    return name.size() == 33 && name[0] == 's' &&
           name.find_first_not_of("0123456789abcdef", 1) == std::string::npos;
}

bool IsNumber(const std::string& text)
{
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

Json::Value ParseJson(const std::string& text)
{
    Json::Value value;
    Json::CharReaderBuilder builder;
    std::string errors;
    std::istringstream in(text);
    if (!Json::parseFromStream(builder, in, &value, &errors)) ADD_FAILURE() << "not JSON: " << text;
    return value;
}

// A browser-like client: one connection, the session cookie kept as the broadcaster keeps it.
class Client {
public:
    explicit Client(int port) : http_("127.0.0.1", port) { http_.set_read_timeout(30); }

    httplib::Result Post(const std::string& path, const std::string& body)
    {
        auto result = http_.Post(path.c_str(), Headers(), body, "application/x-www-form-urlencoded");
        Keep(result);
        return result;
    }
    httplib::Result Get(const std::string& path)
    {
        auto result = http_.Get(path.c_str(), Headers());
        Keep(result);
        return result;
    }
    bool Login(const std::string& name, const std::string& password)
    {
        auto r = Post("/api/login", "username=" + name + "&password=" + password);
        return r && r->body == "1";
    }
    const std::string& cookie() const { return cookie_; }

private:
    httplib::Headers Headers() const
    {
        httplib::Headers headers;
        if (!cookie_.empty()) headers.emplace("Cookie", cookie_);
        return headers;
    }
    void Keep(const httplib::Result& result)
    {
        if (!result) return;
        const std::string set = result->get_header_value("Set-Cookie");
        if (!set.empty()) cookie_ = set.substr(0, set.find(';'));
    }

    httplib::Client http_;
    std::string cookie_;
};

class ServiceHttpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(RunCommand("add-user --data " + data.path().string() + TestDatabaseOption(data.path()) + " demo",
                             "strimo-demo\n"),
                  0);
        // A stand-in for the player library, which the web dependencies install outside the tree.
        const std::string hlsJs = (data.path() / "hls.min.js").string();
        WriteFile(hlsJs, "hls.js stand-in\n");
        service = std::make_unique<ServiceProcess>(kBinary, data.path().string(),
                                                   std::vector<std::string>{"--rtmp-url", kRtmpUrl, "--hls-js", hlsJs});
    }

    // Logs `client` in as demo and asks for a room; returns the reply.
    Json::Value NewRoom(Client& client, const std::string& body = "gid=1 &title=test")
    {
        if (client.cookie().empty()) {
            EXPECT_TRUE(client.Login("demo", "strimo-demo"));
        }
        auto r = client.Post("/api/stream", body);
        EXPECT_TRUE(r);
        return r ? ParseJson(r->body) : Json::Value{};
    }

    Json::Value Room(const std::string& lid)
    {
        auto r = Client(service->port()).Get("/api/room?lid=" + lid);
        return r && r->status == 200 ? ParseJson(r->body) : Json::Value{};
    }

    int Callback(const std::string& call, const std::string& name, const std::string& from = "127.0.0.1")
    {
        const std::string body = "call=" + call + "&app=live&addr=127.0.0.1&name=" + name;
        const std::string response = RawHttp(from, service->port(),
            "POST /rtmp/" + call + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n"
            "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
            std::to_string(body.size()) + "\r\n\r\n" + body);
        return response.size() > 12 ? std::stoi(response.substr(9, 3)) : 0;
    }

    TempDir data;
    std::unique_ptr<ServiceProcess> service;
};

}  // namespace

TEST_F(ServiceHttpTest, LoginStartsTheSessionTheStreamRequestNeeds)
{
    Client client(service->port());
    EXPECT_FALSE(client.Login("demo", "wrong-password"));
    EXPECT_FALSE(client.Login("nobody", "strimo-demo"));
    EXPECT_TRUE(client.cookie().empty());

    auto refused = client.Post("/api/stream", "gid=1 &title=x");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 401);
    EXPECT_FALSE(ParseJson(refused->body).isMember("pipName"));

    ASSERT_TRUE(client.Login("demo", "strimo-demo"));
    EXPECT_EQ(client.cookie().rfind("STRIMOSESSION=", 0), 0u);
    const auto first = NewRoom(client);
    const auto second = NewRoom(client);
    EXPECT_EQ(first["pipUrl"].asString(), kRtmpUrl);
    EXPECT_TRUE(IsHexName(first["pipName"].asString()));
    EXPECT_NE(first["pipName"], second["pipName"]);
    EXPECT_TRUE(IsNumber(first["lid"].asString()));
    EXPECT_EQ(std::stoll(second["lid"].asString()), std::stoll(first["lid"].asString()) + 1);
    EXPECT_EQ(Room(first["lid"].asString())["state"].asString(), "issued");
    EXPECT_EQ(Room(first["lid"].asString())["member"].asString(), "demo");
}

TEST_F(ServiceHttpTest, GameListHoldsTheBroadcastersGamesAndTheFallback)
{
    const std::string config = ReadFile(std::string(STRIMO_SOURCE_DIR) + "/dist/default/config.xml.in");
    const size_t listEnd = config.find("</game_list>");
    std::set<std::string> wanted{"其他"};
    const std::string mark = "<game name=\"";
    for (size_t at = config.find(mark, config.find("<game_list>")); at < listEnd; at = config.find(mark, at + 1)) {
        const size_t start = at + mark.size();
        wanted.insert(config.substr(start, config.find('"', start) - start));
    }
    ASSERT_GT(wanted.size(), 10u);

    Client client(service->port());
    ASSERT_TRUE(client.Login("demo", "strimo-demo"));
    auto r = client.Post("/api/games", "");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body.find("\\u"), std::string::npos);  // raw UTF-8, as the client reads it
    const auto games = ParseJson(r->body);
    ASSERT_TRUE(games.isArray());
    std::set<std::string> names, ids;
    for (const auto& item : games) {
        ASSERT_TRUE(item["gname"].isString());
        ASSERT_TRUE(item["gid"].isString());
        names.insert(item["gname"].asString());
        ids.insert(item["gid"].asString());
    }
    EXPECT_EQ(ids.size(), games.size());
    for (const auto& name : wanted) EXPECT_TRUE(names.count(name)) << name;
}

TEST_F(ServiceHttpTest, StreamRequestFitsTheBroadcastersBody)
{
    Client client(service->port());
    const auto known = NewRoom(client, "gid=3 &title=%E4%BD%A0%E5%A5%BD+%26+more");
    EXPECT_EQ(Room(known["lid"].asString())["game"].asString(), "Xonotic");
    EXPECT_EQ(Room(known["lid"].asString())["title"].asString(), "你好 & more");
    for (const char* body : {"gid=12345 &title=x", "gid= &title=x", "title=only", "", "gid=1' OR '1'='1 &title=x"}) {
        const auto room = NewRoom(client, body);
        EXPECT_EQ(Room(room["lid"].asString())["game"].asString(), "其他") << body;
    }
    const std::string evil = "<script>alert(1)</script>'); DROP TABLE rooms; --";
    const auto room = NewRoom(client, "gid=1 &title=" + httplib::detail::encode_query_param(evil));
    EXPECT_EQ(Room(room["lid"].asString())["title"].asString(), evil);
    auto page = client.Get("/live/room?lid=" + room["lid"].asString());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->body.find("<script>alert"), std::string::npos);
    EXPECT_NE(page->body.find("&lt;script&gt;alert(1)"), std::string::npos);
}

TEST_F(ServiceHttpTest, EndNoticeEndsOnlyARoomItsSenderAskedFor)
{
    Client owner(service->port());
    const auto room = NewRoom(owner);
    const std::string lid = room["lid"].asString();
    ASSERT_EQ(Callback("publish", room["pipName"].asString()), 200);

    // Somebody else, who knows the public lid from the room page address.
    const std::string other = RawHttp("127.0.0.2", service->port(),
        "POST /api/end?lid=" + lid + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(other.substr(9, 3), "403");
    EXPECT_EQ(Room(lid)["state"].asString(), "live");

    // The broadcaster sends it on a fresh session: no cookie.
    auto r = Client(service->port()).Post("/api/end?lid=" + lid, "");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->body, "1");
    EXPECT_EQ(Room(lid)["state"].asString(), "ended");
    EXPECT_EQ(Callback("publish", room["pipName"].asString()), 403);  // ended rooms stay ended

    Client anyone(service->port());
    EXPECT_EQ(anyone.Post("/api/end?lid=999999", "")->status, 404);
    for (const char* lidText : {"", "1%20OR%201=1", "1;DROP%20TABLE%20rooms", "-1", "99999999999999999999"}) {
        EXPECT_EQ(anyone.Post(std::string("/api/end?lid=") + lidText, "")->status, 400) << lidText;
    }
    // A body-less POST without Content-Length, as some clients send it.
    const std::string bare = RawHttp("127.0.0.1", service->port(),
        "POST /api/end?lid=" + lid + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(bare.substr(9, 3), "200");
}

TEST_F(ServiceHttpTest, PublishIsAcceptedOnlyForAnIssuedName)
{
    Client client(service->port());
    const auto room = NewRoom(client);
    const std::string name = room["pipName"].asString();
    EXPECT_EQ(Callback("publish", "s0123456789abcdef0123456789abcdef"), 403);  // made up
    EXPECT_EQ(Callback("publish", "'; DROP TABLE rooms; --"), 403);
    EXPECT_EQ(Callback("publish", name, "127.0.0.2"), 403);  // not the streaming server
    EXPECT_EQ(Callback("publish", name), 200);
    EXPECT_EQ(Room(room["lid"].asString())["state"].asString(), "live");
    EXPECT_EQ(Callback("publish", name), 403);  // a second publisher while the first is on
    EXPECT_EQ(Callback("publish_done", name, "127.0.0.2"), 403);
    EXPECT_EQ(Room(room["lid"].asString())["state"].asString(), "live");
    EXPECT_EQ(Callback("publish_done", name), 200);
    EXPECT_EQ(Room(room["lid"].asString())["state"].asString(), "ended");
}

TEST_F(ServiceHttpTest, BadInputIsAnsweredAndLeavesTheDatabaseWhole)
{
    Client client(service->port());
    const auto gamesBefore = client.Post("/api/games", "")->body;

    // Wrong methods and unknown paths.
    EXPECT_EQ(client.Get("/api/login")->status, 405);
    EXPECT_EQ(client.Get("/api/login")->get_header_value("Allow"), "POST");
    EXPECT_EQ(client.Post("/updata/check", "")->status, 405);
    EXPECT_EQ(client.Post("/live/room?lid=1", "")->status, 405);
    EXPECT_EQ(RawHttp("127.0.0.1", service->port(),
                      "DELETE /api/stream HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").substr(9, 3), "405");
    EXPECT_EQ(client.Get("/no/such/page")->status, 404);
    EXPECT_EQ(client.Get("/index.php?m=other")->status, 404);
    EXPECT_EQ(client.Get("/hls/room-1.m3u8")->status, 404);
    EXPECT_EQ(client.Get("/static/../strimo.db")->status, 404);

    // A huge body is refused without being taken in.
    auto huge = client.Post("/api/login", "username=demo&password=" + std::string(2 * 1024 * 1024, 'x'));
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->status, 413);

    // SQL and markup in every field.
    const std::string evil = "x' OR '1'='1'; DROP TABLE users; --";
    const std::string e = httplib::detail::encode_query_param(evil);
    EXPECT_FALSE(client.Login(e, e));
    EXPECT_FALSE(client.Login("demo", e));
    EXPECT_EQ(client.Post("/index.php?m=member&c=index&a=register",
                          "username=" + e + "&password=" + e + "&password2=" + e)->status, 400);
    EXPECT_EQ(client.Get("/index.php?m=member&c=index&a=member_goto_api&username=" + e + "&password=" + e + "&p=1")->status, 403);
    EXPECT_EQ(client.Get("/live/room?lid=" + e)->status, 404);
    EXPECT_EQ(client.Get("/api/room?lid=" + e)->status, 404);

    // Malformed forms and raw garbage.
    for (const char* body : {"", "&&&", "=", "username", "username=&password=", "%", "%zz=%zz",
                             "username=demo&username=demo&password"}) {
        auto r = client.Post("/api/login", body);
        ASSERT_TRUE(r) << body;
        EXPECT_EQ(r->body, "0") << body;
    }
    for (const char* request : {"GARBAGE\r\n\r\n", "GET\r\n\r\n", "GET / HTTP/9.9\r\n\r\n",
                                "POST /api/login HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
                                "POST /api/login HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
                                "POST /api/login HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"}) {
        RawHttp("127.0.0.1", service->port(), request, true);
    }
    std::mt19937 random(20261207);
    const char* paths[] = {"/api/login", "/api/stream", "/api/games", "/api/end?lid=1", "/rtmp/publish",
                           "/rtmp/publish_done", "/index.php?m=member&c=index&a=register", "/forum/",
                           "/member/login", "/member/password"};
    ASSERT_TRUE(client.Login("demo", "strimo-demo"));
    for (int i = 0; i < 200; ++i) {
        std::string body(random() % 300, '\0');
        for (auto& c : body) c = static_cast<char>(random());
        auto r = client.Post(paths[i % std::size(paths)], body);
        ASSERT_TRUE(r) << "request " << i;
        EXPECT_LT(r->status, 500) << paths[i % std::size(paths)];
    }

    EXPECT_TRUE(service->Running());
    EXPECT_EQ(Client(service->port()).Post("/api/games", "")->body, gamesBefore);
    Client again(service->port());
    EXPECT_TRUE(again.Login("demo", "strimo-demo"));
    EXPECT_TRUE(NewRoom(again)["pipName"].isString());
}

TEST_F(ServiceHttpTest, DozensOfConcurrentLoginsAndStreamRequests)
{
    constexpr int kMembers = 6;
    constexpr int kClients = 48;
    for (int m = 0; m < kMembers; ++m) {
        const std::string name = "member" + std::to_string(m);
        auto r = Client(service->port()).Post("/index.php?m=member&c=index&a=register",
                                              "username=" + name + "&password=pass-" + name + "&password2=pass-" + name);
        ASSERT_TRUE(r);
        ASSERT_EQ(r->status, 200) << r->body;
    }
    std::mutex mutex;
    std::set<std::string> lids, names;
    std::vector<std::string> failures;
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            Client client(service->port());
            const std::string name = "member" + std::to_string(i % kMembers);
            auto fail = [&](const std::string& why) {
                std::lock_guard lock(mutex);
                failures.push_back(why);
            };
            auto login = client.Post("/api/login", "username=" + name + "&password=pass-" + name);
            if (!login || login->body != "1") {
                return fail("login: " + (login ? login->body : httplib::to_string(login.error())));
            }
            auto games = client.Post("/api/games", "");
            auto r = client.Post("/api/stream", "gid=2 &title=room" + std::to_string(i));
            if (!games || !r || r->status != 200) {
                return fail("games/stream: " + (!games ? httplib::to_string(games.error()) : !r ? httplib::to_string(r.error()) : r->body));
            }
            Json::Value reply;
            std::istringstream in(r->body);
            if (!Json::parseFromStream(Json::CharReaderBuilder(), in, &reply, nullptr)) return;
            std::lock_guard lock(mutex);
            lids.insert(reply["lid"].asString());
            names.insert(reply["pipName"].asString());
            ++good;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(good.load(), kClients);
    for (const auto& failure : failures) ADD_FAILURE() << failure;
    EXPECT_EQ(lids.size(), static_cast<size_t>(kClients));
    EXPECT_EQ(names.size(), static_cast<size_t>(kClients));
    for (const auto& lid : lids) EXPECT_EQ(Room(lid)["game"].asString(), "0 A.D.");
}

TEST_F(ServiceHttpTest, AStopRightAfterStartingEndsTheService)
{
    // An operator's SIGTERM can arrive as soon as the service says it listens, before it serves.
    for (int i = 0; i < 40; ++i) {
        ServiceProcess quick(kBinary, data.path().string());
        ASSERT_EQ(quick.Stop(), 0) << "start " << i;
    }
}

TEST_F(ServiceHttpTest, RestartKeepsAccountsRoomsAndSessions)
{
    Client client(service->port());
    const auto room = NewRoom(client, "gid=5 &title=before-restart");
    ASSERT_EQ(Callback("publish", room["pipName"].asString()), 200);
    EXPECT_EQ(service->Stop(), 0);  // SIGTERM ends it cleanly

    service = std::make_unique<ServiceProcess>(kBinary, data.path().string());
    const auto kept = Room(room["lid"].asString());
    EXPECT_EQ(kept["title"].asString(), "before-restart");
    EXPECT_EQ(kept["state"].asString(), "live");
    EXPECT_TRUE(Client(service->port()).Login("demo", "strimo-demo"));

    Client resumed(service->port());
    httplib::Client raw("127.0.0.1", service->port());
    auto r = raw.Post("/api/stream", {{"Cookie", client.cookie()}}, "gid=5 &title=after", "application/x-www-form-urlencoded");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200);
    EXPECT_GT(std::stoll(ParseJson(r->body)["lid"].asString()), std::stoll(room["lid"].asString()));
}

// The operator moves a running service's database to another one (SQLite to PostgreSQL when
// the cluster of the tests is there, else to another file) and starts the service on it:
// members keep their sessions, rooms their numbers and states.
TEST_F(ServiceHttpTest, TheDatabaseMovesWithEverythingInIt)
{
    Client client(service->port());
    const auto room = NewRoom(client, "gid=5 &title=moved");
    ASSERT_EQ(Callback("publish", room["pipName"].asString()), 200);
    EXPECT_EQ(service->Stop(), 0);

    TempDir moved;
    std::unique_ptr<testsupport::PostgresDatabase> target;
    std::vector<std::string> targetArgs;
    std::string to = moved / "strimo.db";
    if (std::getenv("STRIMO_TEST_POSTGRES_SOCKET")) {
        target = std::make_unique<testsupport::PostgresDatabase>();
        to = target->Url();
        targetArgs = {"--database", to};
    }
    const std::string from = " --data " + data.path().string() + TestDatabaseOption(data.path());
    ASSERT_EQ(RunCommand("move-database" + from + " '" + to + "'"), 0);
    // A second move would mix two services' members: refused, and nothing changes.
    EXPECT_NE(RunCommand("move-database" + from + " '" + to + "'"), 0);
    EXPECT_NE(RunCommand("move-database --data " + (moved / "none") + " " + (moved / "other.db")), 0);

    targetArgs.insert(targetArgs.end(), {"--rtmp-url", kRtmpUrl});
    service = std::make_unique<ServiceProcess>(kBinary, moved.path().string(), targetArgs);
    const auto kept = Room(room["lid"].asString());
    EXPECT_EQ(kept["title"].asString(), "moved");
    EXPECT_EQ(kept["state"].asString(), "live");
    httplib::Client raw("127.0.0.1", service->port());
    auto r = raw.Post("/api/stream", {{"Cookie", client.cookie()}}, "gid=5 &title=after", "application/x-www-form-urlencoded");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->status, 200) << "the member's session did not move";
    EXPECT_GT(std::stoll(ParseJson(r->body)["lid"].asString()), std::stoll(room["lid"].asString()));
}

TEST_F(ServiceHttpTest, MemberPagesTheProgramsOpen)
{
    Client browser(service->port());
    auto form = browser.Get("/index.php?m=member&c=index&a=register");
    ASSERT_TRUE(form);
    EXPECT_EQ(form->status, 200);
    EXPECT_NE(form->body.find("<form method=\"post\""), std::string::npos);

    const std::string base = "/index.php?m=member&c=index&a=register";
    EXPECT_EQ(browser.Post(base, "username=newbie&password=abcdef&password2=abcdeX")->status, 400);
    EXPECT_EQ(browser.Post(base, "username=newbie&password=abc&password2=abc")->status, 400);
    EXPECT_EQ(browser.Post(base, "username=%E7%8E%A9%E5%AE%B6&password=abcdef&password2=abcdef")->status, 200);
    EXPECT_EQ(browser.Post(base, "username=%E7%8E%A9%E5%AE%B6&password=other1&password2=other1")->status, 400);
    EXPECT_TRUE(Client(service->port()).Login("%E7%8E%A9%E5%AE%B6", "abcdef"));
    EXPECT_FALSE(Client(service->port()).Login("%E7%8E%A9%E5%AE%B6", "other1"));

    auto forgot = browser.Get("//index.php?m=member&c=index&a=public_forget_password");
    ASSERT_TRUE(forgot);
    EXPECT_EQ(forgot->status, 200);
    EXPECT_NE(forgot->body.find("set-password"), std::string::npos);

    Client owner(service->port());
    const auto room = NewRoom(owner, "gid=1 &title=my-room");
    Client member(service->port());
    auto go = member.Get("//index.php?m=member&c=index&a=member_goto_api&username=demo&password=strimo-demo&p=2");
    ASSERT_TRUE(go);
    EXPECT_EQ(go->status, 303);
    EXPECT_EQ(go->get_header_value("Location").find("password"), std::string::npos);
    auto mine = member.Get("/member/?p=2");
    ASSERT_TRUE(mine);
    EXPECT_NE(mine->body.find("my-room"), std::string::npos);
    EXPECT_NE(member.Get("/member/?p=1")->body.find("修改密码"), std::string::npos);
    auto refused = Client(service->port()).Get("/index.php?m=member&c=index&a=member_goto_api&username=demo&password=x&p=1");
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, 403);
    // The page's address holds the password: what the page loads or links to is not told it.
    EXPECT_EQ(refused->get_header_value_count("Referrer-Policy"), 1u);
    EXPECT_EQ(refused->get_header_value("Referrer-Policy"), "no-referrer");
    EXPECT_EQ(go->get_header_value("Referrer-Policy"), "no-referrer");

    EXPECT_EQ(browser.Get("/")->status, 200);
    auto roomPage = browser.Get("/live/room?lid=" + room["lid"].asString());
    ASSERT_TRUE(roomPage);
    EXPECT_NE(roomPage->body.find("<video id=\"player\""), std::string::npos);
    EXPECT_NE(roomPage->body.find("/static/hls.min.js"), std::string::npos);
    EXPECT_EQ(roomPage->body.find(room["pipName"].asString()), std::string::npos);  // the secret stays secret
    EXPECT_EQ(browser.Get("/live/room?lid=999999")->status, 404);
    EXPECT_EQ(browser.Get("/static/room.js")->status, 200);

    ASSERT_EQ(Callback("publish", room["pipName"].asString()), 200);
    EXPECT_NE(browser.Get("/live/")->body.find("my-room"), std::string::npos);

    EXPECT_EQ(member.Post("/forum/", "text=%3Cb%3Ehello%3C%2Fb%3E")->status, 303);
    const auto forum = browser.Get("/forum/")->body;
    EXPECT_NE(forum.find("&lt;b&gt;hello"), std::string::npos);
    EXPECT_EQ(Client(service->port()).Post("/forum/", "text=anonymous")->status, 303);
    EXPECT_EQ(browser.Get("/forum/")->body.find("anonymous"), std::string::npos);

    EXPECT_EQ(member.Post("/member/password", "old=wrong-one&password=newpass1")->status, 403);
    EXPECT_EQ(member.Post("/member/password", "old=strimo-demo&password=newpass1")->status, 200);
    EXPECT_TRUE(Client(service->port()).Login("demo", "newpass1"));
    // The broadcaster's session from before the change has ended.
    EXPECT_EQ(owner.Post("/api/stream", "gid=1 &title=x")->status, 401);
}

// The log-in of the member link and the creation of an account each cost a password hash. The
// service limits them per address as it reads them: whatever the method, and however the action
// is spelt in the query, which the web front, keying its own limits on the raw query, cannot
// follow. The other pages at the same address are not limited.
TEST_F(ServiceHttpTest, TheMemberPagesLimitWhatCostsAHashHoweverItIsAsked)
{
    const std::string index = "/index.php?m=member&c=index&";
    const std::string account = "username=nobody-here&password=wrong-one&password2=wrong-one";
    const struct {
        const char* what;
        std::string method;
        std::string target;
        std::string body;
        int burst;  // answered before the first 429, and what the rate adds meanwhile
    } cases[] = {
        {"member link by GET", "GET", index + "a=member_goto_api&username=demo&password=x&p=1", "", 20},
        {"member link by POST", "POST", index + "a=member_goto_api", "username=demo&password=x", 20},
        {"member link escaped", "GET", index + "a=%6dember_goto_api&username=demo&password=x", "", 20},
        {"registration", "POST", index + "a=register", account, 10},
        {"registration escaped", "POST", index + "a=%72egister", account, 10},
        {"registration after an upper-case A", "POST", index + "A=x&a=register", account, 10},
    };
    int source = 1;
    for (const auto& c : cases) {
        const std::string from = "127.0.8." + std::to_string(source++);
        std::string request = c.method + " " + c.target + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
        if (c.method == "POST") {
            request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(c.body.size()) + "\r\n";
        }
        request += "\r\n" + c.body;
        int answered = 0;
        std::string refusal;
        for (int i = 0; i < 2 * c.burst && refusal.empty(); ++i) {
            const std::string response = RawHttp(from, service->port(), request);
            ASSERT_GT(response.size(), 12u) << c.what;
            if (response.substr(9, 3) == "429") refusal = response;
            else ++answered;
        }
        EXPECT_GE(answered, c.burst) << c.what;
        EXPECT_LE(answered, c.burst + 5) << c.what;
        EXPECT_NE(refusal.find("Retry-After: "), std::string::npos) << c.what << ": " << refusal;
    }
    // The pages beside them, and the member pages' own log-in form.
    for (int i = 0; i < 40; ++i) {
        ASSERT_EQ(Client(service->port()).Get(index + "a=register")->status, 200) << i;
    }
    EXPECT_TRUE(Client(service->port()).Login("demo", "strimo-demo"));
}

TEST_F(ServiceHttpTest, UpdateHostServesTheDescriptionAndItsFiles)
{
    Client updater(service->port());
    EXPECT_EQ(updater.Get("/updata/check")->body.substr(0, 1), "0");  // nothing offered yet

    const auto dir = data.path() / "updata";
    std::filesystem::create_directories(dir / "res");
    std::string binary(5000, '\0');
    for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i * 7);
    WriteFile((dir / "res/updata.gif").string(), binary);
    WriteFile((dir / "UpdataInfo.txt").string(), "新版本\n");
    ASSERT_EQ(RunCommand("make-update --version 7 --delete-file old.txt " + dir.string()), 0);
    EXPECT_NE(RunCommand("make-update --version 1.5 " + dir.string()), 0);

    const auto check = updater.Get("/updata/check");
    EXPECT_EQ(check->body.substr(0, 1), "1");
    std::string xml = updater.Get("/updata/updata.xml")->body;
    rapidxml::xml_document<> doc;
    doc.parse<0>(xml.data());
    const auto* root = doc.first_node("updata");
    ASSERT_TRUE(root);
    EXPECT_STREQ(root->first_attribute("version")->value(), "7");
    std::vector<std::string> files;
    for (auto* f = root->first_node("file")->first_node(); f; f = f->next_sibling()) files.emplace_back(f->value());
    ASSERT_EQ(files, (std::vector<std::string>{"UpdataInfo.txt", "res/updata.gif"}));
    EXPECT_STREQ(root->first_node("directory")->first_node()->value(), "res");
    EXPECT_STREQ(root->first_node("delete_file")->first_node()->value(), "old.txt");
    EXPECT_EQ(updater.Get("/updata/res/updata.gif")->body, binary);
    EXPECT_EQ(updater.Get("/updata/UpdataInfo.txt")->body, "新版本\n");
    EXPECT_NE(updater.Get("/update/")->body.find("<strong>7</strong>"), std::string::npos);

    EXPECT_EQ(updater.Get("/updata/res")->status, 404);
    EXPECT_EQ(updater.Get("/updata/missing.txt")->status, 404);
    for (const char* path : {"/updata/../strimo.db", "/updata/%2e%2e/strimo.db", "/updata/res/../../strimo.db",
                             "/updata//etc/passwd", "/updata/res%2f..%2f..%2fstrimo.db"}) {
        const std::string r = RawHttp("127.0.0.1", service->port(),
                                      std::string("GET ") + path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(r.substr(9, 3), "404") << path;
        EXPECT_EQ(r.find("SQLite"), std::string::npos) << path;
    }
}

// Every route once, with what its client relies on beyond the status: the content type, the
// caching, the redirect target, the cookie's attributes and the aliases the broadcaster posts to.
TEST_F(ServiceHttpTest, EveryRouteAnswersWithItsStatusTypeAndHeaders)
{
    Client member(service->port());
    const auto room = NewRoom(member, "gid=1 &title=table");
    const std::string lid = room["lid"].asString();
    const std::string name = room["pipName"].asString();
    ASSERT_EQ(Callback("publish", name), 200);
    std::filesystem::create_directories(data.path() / "hls");
    WriteFile((data.path() / "hls" / (name + ".m3u8")).string(), "#EXTM3U\n" + name + "-5.ts\n");
    WriteFile((data.path() / "hls" / (name + "-5.ts")).string(), "segment bytes");

    const std::string json = "Content-Type: application/json; charset=utf-8";
    const std::string html = "Content-Type: text/html; charset=utf-8";
    const std::string text = "Content-Type: text/plain; charset=utf-8";
    const std::string cookie = "; Path=/; Max-Age=2592000; HttpOnly; SameSite=Lax\r\n";
    const std::string goTo = "/index.php?m=member&c=index&a=member_goto_api&username=demo&password=";
    struct Case {
        std::string method;
        std::string path;
        const char* body;  // nullptr: no body and no Content-Length at all
        bool asMember;
        int status;
        std::vector<std::string> head;  // lines the head must hold
        std::string content;            // text the body must hold
    };
    const Case cases[] = {
        // The broadcaster's exchanges, under /api and under the aliases it posts to.
        {"POST", "/api/login", "username=demo&password=x", false, 200, {text}, "0"},
        {"POST", "/login", "username=demo&password=strimo-demo", false, 200, {text, "Set-Cookie: STRIMOSESSION=", cookie}, "1"},
        {"GET", "/api/games", "", false, 200, {json}, "\"gname\":\"其他\""},
        {"POST", "/api/games", nullptr, false, 200, {json}, "\"gname\":\"其他\""},
        {"POST", "/games", "", false, 200, {json}, "\"gname\":\"其他\""},
        {"POST", "/stream", "gid=1 &title=x", true, 200, {json}, "\"pipName\":\"s"},
        {"POST", "/stream", "gid=1 &title=x", false, 401, {json}, "not logged in"},
        {"POST", "/end?lid=999999", "", false, 404, {text}, "0"},
        {"POST", "/api/end?lid=x", nullptr, false, 400, {text}, "0"},
        {"GET", "/api/room?lid=" + lid, "", false, 200, {json, "Cache-Control: no-store"}, "\"state\":\"live\""},
        {"GET", "/api/room?lid=999999", "", false, 404, {json}, "no such room"},
        {"GET", "/login", "", false, 404, {text}, "not found\n"},
        // Pages.
        {"HEAD", "/", "", false, 200, {html}, ""},
        {"GET", "/live/", "", false, 200, {html, "Cache-Control: no-store"}, "http-equiv=\"refresh\""},
        {"GET", "/live/room?lid=" + lid, "", false, 200, {html, "Cache-Control: no-store"}, "data-lid=\"" + lid + "\""},
        {"GET", "/member/", "", false, 200, {html}, "action=\"/member/login\""},
        {"GET", "/member/?p=2", "", true, 200, {html}, "/live/room?lid=" + lid},
        {"POST", "/member/login", "username=demo&password=x&p=2", false, 403, {html}, "<title>会员登录 - "},
        {"POST", "/member/login", "username=demo&password=strimo-demo&p=2", false, 303, {"Location: /member/?p=2\r\n", cookie}, ""},
        {"POST", "/member/login", "username=demo&password=strimo-demo&p=9", false, 303, {"Location: /member/?p=1\r\n", cookie}, ""},
        {"GET", goTo + "x&p=2", "", false, 403, {html}, "<title>会员中心 - "},
        {"GET", "/" + goTo + "strimo-demo", "", false, 303, {"Location: /member/?p=1\r\n", cookie}, ""},
        {"GET", "/index.php?m=member&c=other", "", false, 404, {html}, "没有这个页面"},
        {"POST", "/member/password", "old=x&password=newpass1", false, 303, {"Location: /member/?p=1\r\n"}, ""},
        {"GET", "/forum/", "", false, 200, {html}, "后可以发帖"},
        {"POST", "/forum/", "text=", true, 303, {"Location: /forum/\r\n"}, ""},
        {"POST", "/forum/", "text=x", false, 303, {"Location: /member/\r\n"}, ""},
        {"GET", "/update/", "", false, 200, {html}, "现在没有可以下载的更新"},
        // The update host, the room's HLS under its public id, static files.
        {"GET", "/updata/check", "", false, 200, {text, "Cache-Control: no-store"}, "0\n"},
        {"GET", "/updata/updata.xml", "", false, 404, {text}, "not found\n"},
        {"GET", "/hls/room-" + lid + ".m3u8", "", false, 200,
         {"Content-Type: application/vnd.apple.mpegurl", "Cache-Control: no-cache"}, "room-" + lid + "-5.ts\n"},
        {"GET", "/hls/room-" + lid + "-5.ts", "", false, 200, {"Content-Type: video/mp2t", "Cache-Control: max-age=60"}, "segment bytes"},
        {"GET", "/hls/room-" + lid + "-6.ts", "", false, 404, {text}, "not found\n"},
        {"GET", "/static/hls.min.js", "", false, 200,
         {"Content-Type: text/javascript; charset=utf-8", "Cache-Control: max-age=300"}, "hls.js stand-in"},
        {"GET", "/static/style.css", "", false, 200, {"Content-Type: text/css; charset=utf-8"}, ""},
        {"GET", "/static/none.css", "", false, 404, {text}, "not found\n"},
        // Methods a path does not take.
        {"GET", "/member/password", "", false, 405, {text, "Allow: POST\r\n"}, "method not allowed\n"},
        {"PUT", "/forum/", "", false, 405, {"Allow: GET, POST\r\n"}, ""},
        {"POST", "/hls/room-" + lid + ".m3u8", "", false, 405, {"Allow: GET\r\n"}, ""},
        {"GET", "/no/such/page", "", false, 404, {text}, "not found\n"},
    };
    for (const auto& c : cases) {
        std::string request = c.method + " " + c.path + " HTTP/1.1\r\nHost: x\r\nConnection: close\r\n";
        if (c.asMember) request += "Cookie: " + member.cookie() + "\r\n";
        if (c.body) {
            request += "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                       std::to_string(std::strlen(c.body)) + "\r\n\r\n" + c.body;
        } else {
            request += "\r\n";
        }
        const std::string response = RawHttp("127.0.0.1", service->port(), request);
        const std::string what = c.method + " " + c.path;
        ASSERT_GT(response.size(), 12u) << what;
        EXPECT_EQ(response.substr(9, 3), std::to_string(c.status)) << what;
        const size_t split = response.find("\r\n\r\n");
        const std::string head = response.substr(0, split + 2);
        const std::string body = split == std::string::npos ? std::string{} : response.substr(split + 4);
        for (const auto& line : c.head) EXPECT_NE(head.find(line), std::string::npos) << what << " lacks " << line;
        EXPECT_NE(body.find(c.content), std::string::npos) << what << ": " << body;
        EXPECT_EQ(body.find(name), std::string::npos) << what << " shows the secret stream name";
    }
}
