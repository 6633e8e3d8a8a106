// The HTTP client and the service exchanges against a real HTTP server on loopback.
#include <atomic>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <gtest/gtest.h>

#include "HttpClient.h"
#include "ServiceRequests.h"
#include "CurlUrl.h"
#include "TempDir.h"
#include "TestCertificate.h"
#include "TestHttpServer.h"

using testsupport::TestHttpServer;

namespace {

// The bytes 0..n-1 of a reply that shows where a piece of it went missing or moved.
std::string Pattern(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('a' + (i * 7 + i / 26) % 26);
    return s;
}

// 1023 ASCII bytes, then a three-byte character straddling the 1024-byte boundary, then more
// text past the first piece.
std::string StraddlingText() { return std::string(1023, 'a') + "中文直播" + std::string(1500, 'b') + "结束"; }

class ServiceServer {
public:
    ServiceServer() {
        auto& s = server_.Server();
        s.Post(R"(/bytes-(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(Pattern(std::stoul(req.matches[1])), "text/plain");
        });
        const auto fixed = [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex_);
            const auto it = fixed_.find(req.matches[1]);
            if (it == fixed_.end()) {
                res.status = 404;
                return;
            }
            res.status = it->second.first;
            res.set_content(it->second.second, "text/plain");
        };
        s.Post(R"(/f-([\w-]+))", fixed);
        s.Get(R"(/f-([\w-]+))", fixed);  // what a POST turned into a GET by a redirect asks for
        // hop-CODE-N-TARGET: N redirects answered with CODE, the last one to /TARGET#end. Each
        // has a body of its own, which must never be taken for the reply.
        const auto hop = [](const httplib::Request& req, httplib::Response& res) {
            const int left = std::stoi(req.matches[2]);
            const std::string target = req.matches[3];
            res.set_redirect(left > 1 ? "/hop-" + req.matches[1].str() + "-" + std::to_string(left - 1) + "-" + target
                                      : "/" + target + "#end",
                             std::stoi(req.matches[1]));
            res.set_content("<html>moved</html>", "text/html");
        };
        s.Post(R"(/hop-(\d+)-(\d+)-([\w-]+))", hop);
        s.Get(R"(/hop-(\d+)-(\d+)-([\w-]+))", hop);
        // A redirect to the absolute URL in "to", keeping the method.
        s.Post("/away", [](const httplib::Request& req, httplib::Response& res) {
            res.set_redirect(req.get_param_value("to"), 307);
        });
        const auto methodEcho = [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_content(req.method + " " + req.body, "text/plain");
        };
        s.Post("/method-echo", methodEcho);
        s.Get("/method-echo", methodEcho);
        s.Post("/echo-target.php", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.path + "?x=" + req.get_param_value("x"), "text/plain");
        });
        s.Post("/headers", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content(req.get_header_value("Content-Type") + "|" + req.get_header_value("Cache-Control") + "|" +
                                req.get_header_value("User-Agent"),
                            "text/plain");
        });
        s.Post("/session-login", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_header("Set-Cookie", "sid=member42; Path=/");
            res.set_content(req.get_param_value("username") == "rejected" ? "0" : "1", "text/plain");
        });
        s.Post("/whoami", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_content("cookie:" + req.get_header_value("Cookie"), "text/plain");
        });
        s.Post("/end", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            res.set_content("ok", "text/plain");
        });
        // Answers a stream-information request with the body it received as "pipName".
        s.Post("/stream-echo", [this](const httplib::Request& req, httplib::Response& res) {
            Record(req);
            std::string escaped;
            for (char c : req.body) {
                if (c == '"' || c == '\\') escaped += '\\';
                escaped += c;
            }
            res.set_content(R"({"pipName":")" + escaped + R"(","pipUrl":"rtmp://127.0.0.1:11935/live","lid":"L1"})",
                            "application/json");
        });
        server_.Start();
    }

    void SetFixed(const std::string& name, std::string body, int status = 200) {
        std::lock_guard lock(mutex_);
        fixed_[name] = {status, std::move(body)};
    }
    std::string Url(const std::string& path) const { return server_.Url(path); }
    int Requests() const { return requests_.load(); }
    httplib::Request Last() {
        std::lock_guard lock(mutex_);
        return last_;
    }

private:
    void Record(const httplib::Request& req) {
        std::lock_guard lock(mutex_);
        last_ = req;
        ++requests_;
    }

    TestHttpServer server_;
    std::mutex mutex_;
    std::map<std::string, std::pair<int, std::string>> fixed_;
    httplib::Request last_;
    std::atomic<int> requests_{0};
};

class HttpClientTest : public testing::Test {
protected:
    static void SetUpTestSuite() { server_ = new ServiceServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }

    // Fresh addresses and no kept handles, in a folder of its own.
    void SetUp() override {
        chdir_ = std::make_unique<testsupport::ScopedChdir>(dir_.path());
        servers_[MY_DATA_SPACE::kLoginUrl] = Url("/site/session-login");
        servers_[MY_DATA_SPACE::kGameListUrl] = Url("/site/f-games");
        servers_[MY_DATA_SPACE::kStreamInfoUrl] = Url("/site/f-stream");
        servers_[MY_DATA_SPACE::kEndNoticePrefix] = Url("/api/end?lid=");
    }
    void TearDown() override {
        connection_.reset();
        session_.reset();
        chdir_.reset();
    }

    static std::string Url(const std::string& path) { return server_->Url(path); }
    void LogIn() { ASSERT_TRUE(Keep(RequestLogin(servers_, "member", "secret"))); }
    // What the login window does with a login: a received reply's handles replace the kept
    // ones whatever the verdict. Gives the verdict.
    bool Keep(LoginOutcome outcome) {
        if (outcome.Received()) {
            session_ = std::move(outcome.session);
            connection_ = std::move(outcome.connection);
        }
        return outcome.accepted;
    }
    // What the main window does with a stream request: a reply's values replace the kept ones.
    // False when the POST failed.
    bool AskStream(const GameIdTable& table, const std::string& game, const std::string& introduction) {
        const auto info = RequestStreamInfo(servers_, connection_.get(), table, game, introduction);
        if (info) stream_ = *info;
        return info.has_value();
    }
    static std::string Post(const std::string& url) {
        std::string reply;
        EXPECT_TRUE(PostForText(reply, url, ""));
        return reply;
    }

    static ServiceServer* server_;
    testsupport::TempDir dir_;
    std::unique_ptr<testsupport::ScopedChdir> chdir_;
    MY_DATA_SPACE::ServerAddressTable servers_;
    std::unique_ptr<HttpHandle> session_;
    std::unique_ptr<HttpHandle> connection_;
    StreamInfo stream_;
};
ServiceServer* HttpClientTest::server_ = nullptr;

TEST_F(HttpClientTest, EmptyUrlFailsWithoutTouchingTheNetwork) {
    const int before = server_->Requests();
    std::string reply = "kept";
    EXPECT_FALSE(PostForText(reply, "", "a=1"));
    EXPECT_FALSE(PostOnConnection(reply, connection_.get(), "", ""));
    EXPECT_FALSE(Keep(PostLogin("", "username=a")));
    EXPECT_EQ(reply, "kept");
    EXPECT_EQ(session_.get(), nullptr);
    EXPECT_EQ(server_->Requests(), before);
}

TEST_F(HttpClientTest, PostsToTheTextAfterTheLastSlashOfTheUrl) {
    EXPECT_EQ(ObjectNameOf("http://h/a/b/login.php?x=1"), "/login.php?x=1");
    EXPECT_EQ(ObjectNameOf("http://h/a/login.php?next=/x/y"), "/y");
    EXPECT_EQ(ObjectNameOf("no-slash"), "no-slash");

    // On the wire, what a URL cannot carry is escaped; delimiters and "%XX" stay as written.
    const struct {
        const char* target;
        const char* wire;
    } escapes[] = {
        {"/a/b.php?x=1&y=2", "/a/b.php?x=1&y=2"},
        {"/my file.png", "/my%20file.png"},
        {"/res/直播.png", "/res/%E7%9B%B4%E6%92%AD.png"},
        {"/end?lid=a%20b%2F", "/end?lid=a%20b%2F"},
        {"/end?lid=50%&x=%4", "/end?lid=50%25&x=%254"},
        {"/x?\t\"#<>[\\]^`{|}\x7f", "/x?%09%22%23%3C%3E%5B%5C%5D%5E%60%7B%7C%7D%7F"},
        {"/keep-._~!$'()*+,;:@", "/keep-._~!$'()*+,;:@"},
    };
    for (const auto& e : escapes) EXPECT_EQ(http::EscapeRequestTarget(e.target), e.wire) << e.target;

    EXPECT_EQ(Post(Url("/dir/sub/echo-target.php?x=1")), "/echo-target.php?x=1");
    // A "/" inside the query starts the object name there.
    EXPECT_EQ(Post(Url("/a/login.php?next=/whoami")), "cookie:");
}

TEST_F(HttpClientTest, SendsTheThreeHeaderLines) {
    EXPECT_EQ(Post(Url("/headers")), "application/x-www-form-urlencoded|no-cache|test");
}

TEST_F(HttpClientTest, RepliesOfEverySizeArriveWholeAndAreAppended) {
    for (const std::size_t n : {0u, 1u, 1024u, 1025u, 5000u}) {
        std::string reply = "before:";
        ASSERT_TRUE(PostForText(reply, Url("/data/bytes-" + std::to_string(n)), "")) << n;
        EXPECT_EQ(reply, "before:" + Pattern(n)) << n;
    }
}

TEST_F(HttpClientTest, ReplyTextIsDecodedAsOneWhole) {
    server_->SetFixed("straddle", StraddlingText());
    EXPECT_EQ(Post(Url("/site/f-straddle")), StraddlingText());
    // The text of a reply ends at its first 0 byte.
    server_->SetFixed("nul", std::string("abc\0def", 7));
    EXPECT_EQ(Post(Url("/site/f-nul")), "abc");
}

TEST_F(HttpClientTest, ErrorPagesAreRepliesButTransportFailuresAreNot) {
    server_->SetFixed("broken", "<html>internal error</html>", 500);
    EXPECT_EQ(Post(Url("/site/f-broken")), "<html>internal error</html>");
    EXPECT_EQ(Post(Url("/site/f-no-such-reply")), "");

    std::string reply;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(PostForText(reply, "http://127.0.0.1:1/refused", ""));
    EXPECT_FALSE(PostForText(reply, "not a url", ""));
    const std::string diagnostics = testing::internal::GetCapturedStdout();
    EXPECT_NE(diagnostics.find("Error:"), std::string::npos);
    EXPECT_NE(diagnostics.find("Error:WinHttpCrackUrl failed!\n"), std::string::npos);
    EXPECT_EQ(reply, "");
}

TEST_F(HttpClientTest, LoginIsDecidedByTheFirstByteOfTheWholeReply) {
    const struct {
        const char* name;
        std::string body;
        int status;
        bool accepted;
    } cases[] = {
        {"one", "1", 200, true},
        {"one-and-more", "1 welcome", 200, true},
        {"byte-one", std::string("\x01", 1), 200, true},
        {"zero", "0", 200, false},
        {"empty", "", 200, false},
        {"error-page", "<html>500</html>", 500, false},
        // The second 1024-byte piece starts with "0": still accepted.
        {"long-accepted", "1" + std::string(1023, 'x') + "0" + std::string(500, 'x'), 200, true},
        // The last piece starts with "1", the reply with "0": still refused.
        {"long-refused", "0" + std::string(1023, 'x') + "1" + std::string(500, 'x'), 200, false},
    };
    for (const auto& c : cases) {
        server_->SetFixed(c.name, c.body, c.status);
        EXPECT_EQ(Keep(PostLogin(Url(std::string("/site/f-") + c.name), "username=a")), c.accepted)
            << c.name;
    }
}

TEST_F(HttpClientTest, LoginKeepsItsSessionEvenWhenRefusedButNotWhenNothingCame) {
    server_->SetFixed("refuse", "0");
    EXPECT_FALSE(Keep(PostLogin(Url("/site/f-refuse"), "")));
    HttpHandle* kept = connection_.get();
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(session_.get(), nullptr);

    testing::internal::CaptureStdout();
    LoginOutcome unanswered = PostLogin("http://127.0.0.1:1/login", "username=a");
    (void)testing::internal::GetCapturedStdout();
    EXPECT_FALSE(unanswered.Received());
    EXPECT_EQ(unanswered.session, nullptr) << "no reply hands over no handle";
    EXPECT_FALSE(Keep(std::move(unanswered)));
    EXPECT_EQ(connection_.get(), kept);

    LogIn();
    EXPECT_NE(connection_.get(), nullptr);
}

TEST_F(HttpClientTest, KeptConnectionCarriesTheLoginCookiesToTheLoginHost) {
    LogIn();
    std::string reply;
    // Another host and port in the URL: only its object name counts.
    ASSERT_TRUE(PostOnConnection(reply, connection_.get(), "http://127.0.0.1:1/deep/path/whoami", ""));
    EXPECT_EQ(reply, "cookie:sid=member42");

    // A fresh session has no cookie.
    EXPECT_EQ(Post(Url("/whoami")), "cookie:");
}

TEST_F(HttpClientTest, NoConnectionMeansNoRequest) {
    std::string reply;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(PostOnConnection(reply, nullptr, Url("/whoami"), ""));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Error:OpenRequest failed!\n");
}

TEST_F(HttpClientTest, FormValuesReachTheServiceIntact) {
    const std::string user = "a&b=c+d%e 名";
    const std::string password = "p/w&password=x+1%2";
    ASSERT_TRUE(Keep(RequestLogin(servers_, user, password)));
    const auto login = server_->Last();
    EXPECT_EQ(login.get_param_value("username"), user);
    EXPECT_EQ(login.get_param_value("password"), password);
    EXPECT_EQ(login.get_param_value_count("password"), 1u);
    EXPECT_EQ(login.body.rfind("username=", 0), 0u);

    GameIdTable table{{"射击 & 冒险", "g=1&x"}};
    servers_[MY_DATA_SPACE::kStreamInfoUrl] = Url("/api/stream-echo");
    ASSERT_TRUE(AskStream(table, "射击 & 冒险", "100% fun & games=yes"));
    EXPECT_EQ(stream_.pipName, "gid=g%3D1%26x &title=100%25+fun+%26+games%3Dyes");
    EXPECT_EQ(server_->Last().get_param_value("title"), "100% fun & games=yes");
}

TEST_F(HttpClientTest, HttpsIsVerifiedAndNeverLeftForHttp) {
    const testsupport::TestCertificate certificate;
    ASSERT_TRUE(certificate.Made()) << "openssl could not make a certificate";

    TestHttpServer https(std::make_unique<httplib::SSLServer>(certificate.Cert().c_str(), certificate.Key().c_str()));
    https.Server().Post("/secret", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("1", "text/plain");
    });
    https.Server().Post("/to-secret", [](const httplib::Request&, httplib::Response& res) {
        res.set_redirect("/secret", 308);
    });
    const std::string plain = Url("/method-echo");
    https.Server().Post("/to-http", [plain](const httplib::Request&, httplib::Response& res) {
        res.set_redirect(plain, 307);
    });
    https.Start();

    // The server does answer a client that skips verification...
    httplib::SSLClient check("127.0.0.1", https.Port());
    check.enable_server_certificate_verification(false);
    const auto answered = check.Post("/secret", "", "text/plain");
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->body, "1");

    // ...but the client verifies certificates.
    std::string reply;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(PostForText(reply, https.Url("/secret", "https"), ""));
    EXPECT_FALSE(Keep(PostLogin(https.Url("/secret", "https"), "")));
    (void)testing::internal::GetCapturedStdout();
    EXPECT_EQ(reply, "");
    EXPECT_EQ(connection_.get(), nullptr);

    // Trusting the certificate, redirects within https and from http to https are followed; one
    // from https to http is refused, however the request got to https.
    const testsupport::ScopedTrust trust(certificate.Cert());
    const auto away = [this](const std::string& to) {
        std::string query;
        for (char c : to) query += c == ':' ? std::string("%3A") : c == '/' ? std::string("%2F") : std::string(1, c);
        return Url("/away?to=" + query);
    };
    EXPECT_EQ(Post(https.Url("/secret", "https")), "1");
    EXPECT_EQ(Post(https.Url("/to-secret", "https")), "1");
    EXPECT_EQ(Post(away(https.Url("/to-secret", "https"))), "1");
    const int before = server_->Requests();
    testing::internal::CaptureStdout();
    EXPECT_FALSE(PostForText(reply, https.Url("/to-http", "https"), "a=1"));
    EXPECT_FALSE(PostForText(reply, away(https.Url("/to-http", "https")), "a=1"));
    EXPECT_FALSE(Keep(PostLogin(https.Url("/to-http", "https"), "username=a")));
    (void)testing::internal::GetCapturedStdout();
    EXPECT_EQ(server_->Requests(), before);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(connection_.get(), nullptr);
}

TEST_F(HttpClientTest, RedirectsAreFollowedAsThePlatformStackDoes) {
    const struct {
        int code;
        int hops;
        bool followed;
        const char* reply;
    } cases[] = {
        // A POST goes on as a GET without its body after 301, 302 and 303, and as itself after
        // 307 and 308; ten redirects are followed, the eleventh fails the request.
        {301, 1, true, "GET "},   {302, 1, true, "GET "},       {303, 1, true, "GET "},
        {307, 1, true, "POST a=1"}, {308, 1, true, "POST a=1"}, {302, 10, true, "GET "},
        {307, 10, true, "POST a=1"}, {302, 11, false, ""},      {308, 11, false, ""},
    };
    for (const auto& c : cases) {
        const std::string url = Url("/x/hop-" + std::to_string(c.code) + "-" + std::to_string(c.hops) + "-method-echo");
        std::string reply;
        testing::internal::CaptureStdout();
        EXPECT_EQ(PostForText(reply, url, "a=1"), c.followed) << url;
        (void)testing::internal::GetCapturedStdout();
        EXPECT_EQ(reply, c.reply) << url;
    }

    // The login behind three 307s keeps its form; the game list behind two 302s is asked for
    // on the kept connection, with the login's cookie.
    servers_[MY_DATA_SPACE::kLoginUrl] = Url("/site/hop-307-3-session-login");
    ASSERT_TRUE(Keep(RequestLogin(servers_, "member", "secret")));
    EXPECT_EQ(server_->Last().get_param_value("username"), "member");
    server_->SetFixed("moved-games", R"([{"gname":"Alpha","gid":"1"}])");
    servers_[MY_DATA_SPACE::kGameListUrl] = Url("/site/hop-302-2-f-moved-games");
    GameIdTable table;
    EXPECT_EQ(RequestGameList(servers_, connection_.get(), table), GameListResult::kGood);
    EXPECT_EQ(table, (GameIdTable{{"Alpha", "1"}}));
    std::string reply;
    ASSERT_TRUE(PostOnConnection(reply, connection_.get(), Url("/hop-308-2-whoami"), ""));
    EXPECT_EQ(reply, "cookie:sid=member42");

    // Past ten redirects the login is not answered and the game list is a bad reply.
    testing::internal::CaptureStdout();
    servers_[MY_DATA_SPACE::kGameListUrl] = Url("/site/hop-302-11-f-moved-games");
    EXPECT_EQ(RequestGameList(servers_, connection_.get(), table), GameListResult::kBadReply);
    servers_[MY_DATA_SPACE::kLoginUrl] = Url("/site/hop-307-11-session-login");
    EXPECT_FALSE(Keep(RequestLogin(servers_, "member", "secret")));
    (void)testing::internal::GetCapturedStdout();
}

// --- the service exchanges on the kept connection -------------------------------------------

TEST_F(HttpClientTest, GameListReplies) {
    LogIn();
    // A name whose first Chinese character straddles bytes 1023 to 1025 of the reply.
    const std::string prefix = R"([{"gid":"1","gname":")";
    const std::string straddling = std::string(1023 - prefix.size(), 'n') + "中文游戏";
    const struct {
        std::string reply;
        GameListResult result;
        GameIdTable table;
    } cases[] = {
        {R"([{"gname":"Alpha","gid":"1","extra":true},{"gname":"其他","gid":"9"}])", GameListResult::kGood,
         {{"Alpha", "1"}, {"其他", "9"}}},
        {"[]", GameListResult::kGood, {}},
        {R"([{"gname":"A","gid":"1"},{"gname":"A","gid":"2"}])", GameListResult::kGood, {{"A", "2"}}},
        // An object root is read in member-name order: "a" before "b", so "b" wins.
        {R"({"b":{"gname":"X","gid":"from-b"},"a":{"gname":"X","gid":"from-a"}})", GameListResult::kGood,
         {{"X", "from-b"}}},
        {R"([{"gname":"A","gid":7}])", GameListResult::kGood, {{"A", "7"}}},
        // Good elements before a bad one stay in the table.
        {R"([{"gname":"A","gid":"1"},{"gname":"B"}])", GameListResult::kBadReply, {{"A", "1"}}},
        {R"([{"gname":null,"gid":"1"}])", GameListResult::kBadReply, {}},
        {R"([{"gname":"A","gid":1.5}])", GameListResult::kBadReply, {}},
        {R"([{"gname":"A","gid":["1"]}])", GameListResult::kBadReply, {}},
        {R"(["Alpha"])", GameListResult::kBadReply, {}},
        {"<html>not json</html>", GameListResult::kNotJson, {}},
        {"", GameListResult::kNotJson, {}},
        // Nesting deeper than the JSON reader's stack limit makes it throw: still just not JSON.
        {std::string(5000, '['), GameListResult::kNotJson, {}},
        // The reply arrives in 1024-byte pieces; a name across two of them keeps its characters.
        {prefix + straddling + R"("}])", GameListResult::kGood, {{straddling, "1"}}},
    };
    for (const auto& c : cases) {
        const std::string shown = c.reply.substr(0, 80);
        server_->SetFixed("games", c.reply);
        GameIdTable table;
        EXPECT_EQ(RequestGameList(servers_, connection_.get(), table), c.result) << shown;
        EXPECT_EQ(table, c.table) << shown;
    }

    EXPECT_STREQ(GameListMessage(GameListResult::kBadReply), "返回信息出错!");
    EXPECT_EQ(GameListMessage(GameListResult::kNotJson), nullptr);
    EXPECT_EQ(GameListMessage(GameListResult::kGood), nullptr);
}

TEST_F(HttpClientTest, GameListWithoutALoginIsABadReply) {
    GameIdTable table;
    testing::internal::CaptureStdout();
    EXPECT_EQ(RequestGameList(servers_, connection_.get(), table), GameListResult::kBadReply);
    (void)testing::internal::GetCapturedStdout();
}

TEST_F(HttpClientTest, StreamInformationReplies) {
    LogIn();
    const struct {
        std::string reply;
        const char* name;
        const char* url;
        const char* lid;
    } cases[] = {
        {R"({"pipName":"s1","pipUrl":"rtmp://127.0.0.1:11935/live","lid":"42"})", "s1", "rtmp://127.0.0.1:11935/live",
         "42"},
        {R"({"pipName":"s1","pipUrl":null})", "s1", "", ""},
        {R"({"pipName":true,"pipUrl":"u","lid":false})", "true", "u", "false"},
        // Numbers, arrays and objects make the reply count as not parsed.
        {R"({"pipName":"s1","pipUrl":"u","lid":42})", "", "", ""},
        {R"({"pipName":["s1"],"pipUrl":"u","lid":"1"})", "", "", ""},
        {R"(["s1","u","1"])", "", "", ""},
        {"<html>busy</html>", "", "", ""},
        // Nesting beyond the JSON reader's stack limit: not parsed, not a crash.
        {R"({"pipName":)" + std::string(3000, '['), "", "", ""},
    };
    for (const auto& c : cases) {
        const std::string shown = c.reply.substr(0, 80);
        server_->SetFixed("stream", c.reply);
        stream_.pipName = "old";
        ASSERT_TRUE(AskStream({}, "Alpha", "intro")) << shown;
        EXPECT_EQ(stream_.pipName, c.name) << shown;
        EXPECT_EQ(stream_.pipUrl, c.url) << shown;
        EXPECT_EQ(stream_.lid, c.lid) << shown;
    }
}

TEST_F(HttpClientTest, StreamInformationPostsTheGameIdOrTheOtherOne) {
    LogIn();
    servers_[MY_DATA_SPACE::kStreamInfoUrl] = Url("/api/stream-echo");
    const GameIdTable table{{"Alpha", "1"}, {"其他", "99"}};
    ASSERT_TRUE(AskStream(table, "Alpha", "hi"));
    EXPECT_EQ(stream_.pipName, "gid=1 &title=hi");
    ASSERT_TRUE(AskStream(table, "Unknown", "hi"));
    EXPECT_EQ(stream_.pipName, "gid=99 &title=hi");
    ASSERT_TRUE(AskStream({}, "Unknown", "hi"));
    EXPECT_EQ(stream_.pipName, "gid= &title=hi");
    EXPECT_EQ(stream_.lid, "L1");
}

TEST_F(HttpClientTest, StreamInformationFailureLeavesTheValues) {
    stream_.pipName = "kept";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(AskStream({}, "Alpha", "intro"));
    (void)testing::internal::GetCapturedStdout();
    EXPECT_EQ(stream_.pipName, "kept");
}

TEST_F(HttpClientTest, EndNoticeNamesTheLiveIdOnAFreshSession) {
    LogIn();
    const struct {
        const char* lid;
        const char* received;
    } cases[] = {
        {"L42", "L42"},
        // Characters a URL cannot carry are escaped on the way, so the notice still goes out.
        {"my live 1", "my live 1"},
        {"直播#1", "直播#1"},
        {"tab\there", "tab\there"},
        {"50%", "50%"},
        // What is escaped already stays so.
        {"%41%4a", "AJ"},
    };
    for (const auto& c : cases) {
        const int before = server_->Requests();
        SendEndNotice(servers_, c.lid);
        ASSERT_EQ(server_->Requests(), before + 1) << c.lid;
        const auto last = server_->Last();
        EXPECT_EQ(last.path, "/end");
        EXPECT_EQ(last.get_param_value("lid"), c.received);
        EXPECT_EQ(last.get_header_value("Cookie"), "");
    }
}

}  // namespace
