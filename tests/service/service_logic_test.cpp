// Form values, page addresses and the choice of the streaming server's address.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CHttpUrl.h"
#include "ServicePages.h"
#include "ServiceRequests.h"
#include "StreamAddress.h"

namespace {

TEST(FormValue, EncodesWhatWouldBreakTheForm) {
    EXPECT_EQ(FormValue("plain-Name_1.x*"), "plain-Name_1.x*");
    EXPECT_EQ(FormValue("a&b=c+d%e f/g"), "a%26b%3Dc%2Bd%25e+f%2Fg");
    EXPECT_EQ(FormValue("名"), "%E5%90%8D");
    EXPECT_EQ(FormValue(std::string("\0\n", 2)), "%00%0A");
    EXPECT_EQ(FormValue(""), "");
}

TEST(FormValue, BodiesKeepTheirLiteralParts) {
    EXPECT_EQ(LoginBody("u&x", "p=1"), "username=u%26x&password=p%3D1");
    EXPECT_EQ(StreamInfoBody("", "my game"), "gid= &title=my+game");
    EXPECT_EQ(StreamInfoBody("7", ""), "gid=7 &title=");
}

TEST(GameIdFor, FallsBackToOtherThenEmpty) {
    EXPECT_EQ(GameIdFor({{"Alpha", "1"}, {"其他", "9"}}, "Alpha"), "1");
    EXPECT_EQ(GameIdFor({{"Alpha", "1"}, {"其他", "9"}}, "Beta"), "9");
    EXPECT_EQ(GameIdFor({{"Alpha", "1"}}, "Beta"), "");
}

TEST(CHttpUrl, CracksServiceUrls) {
    const CHttpUrl plain("http://127.0.0.1:18080/api/login?x=1");
    EXPECT_EQ(plain.scheme, CHttpUrl::kSchemeHttp);
    EXPECT_EQ(plain.host, "127.0.0.1");
    EXPECT_EQ(plain.port, 18080);
    EXPECT_EQ(plain.path, "/api/login");

    const CHttpUrl secure("https://Service.example/login");
    EXPECT_EQ(secure.scheme, CHttpUrl::kSchemeHttps);
    EXPECT_EQ(secure.port, 443);
    EXPECT_EQ(secure.Origin(), "https://Service.example");

    for (const char* bad : {"", "ftp://h/x", "rtmp://h/live", "no url at all"}) {
        const CHttpUrl u(bad);
        EXPECT_EQ(u.scheme, 0) << bad;
        EXPECT_EQ(u.port, 0) << bad;
        EXPECT_TRUE(u.host.empty()) << bad;
    }
}

class ServicePagesTest : public testing::Test {
protected:
    void SetUp() override {
        servers_[MY_DATA_SPACE::kLoginUrl] = "http://127.0.0.1:18080/api/login";
        servers_[MY_DATA_SPACE::kRoomPagePrefix] = "http://127.0.0.1:18080/live/room?lid=";
        servers_[MY_DATA_SPACE::kIdlePage] = "http://127.0.0.1:18080/live/";
        servers_[MY_DATA_SPACE::kUpdatePage] = "http://127.0.0.1:18080/update/";
    }

    MY_DATA_SPACE::ServerAddressTable servers_;
};

TEST_F(ServicePagesTest, MemberPagesLieOnTheLoginOrigin) {
    EXPECT_EQ(RegistrationPageUrl(servers_), "http://127.0.0.1:18080/index.php?m=member&c=index&a=register");
    EXPECT_EQ(ForgottenPasswordPageUrl(servers_),
              "http://127.0.0.1:18080/index.php?m=member&c=index&a=public_forget_password");
    EXPECT_EQ(HomePageUrl(servers_), "http://127.0.0.1:18080/");
    EXPECT_EQ(UpdatePageUrl(servers_), "http://127.0.0.1:18080/update/");

    servers_[MY_DATA_SPACE::kLoginUrl] = "https://members.example:443/x/login.php";
    EXPECT_EQ(HomePageUrl(servers_), "https://members.example/");

    servers_[MY_DATA_SPACE::kLoginUrl] = "";
    EXPECT_EQ(RegistrationPageUrl(servers_), "");
}

TEST_F(ServicePagesTest, MemberCentreCarriesTheEncodedLogin) {
    const MY_DATA_SPACE::LoginRecord user{"张 三&x", "p/w=1", true};
    const std::string base =
        "http://127.0.0.1:18080/index.php?m=member&c=index&a=member_goto_api&username=%E5%BC%A0+%E4%B8%89%26x"
        "&password=p%2Fw%3D1";
    EXPECT_EQ(MemberCentreUrl(servers_, user, 1), base + "&p=1");
    EXPECT_EQ(MemberCentreUrl(servers_, user, 2), base + "&p=2");
}

TEST_F(ServicePagesTest, RoomPageFollowsTheBroadcast) {
    const std::string lid = "77";
    EXPECT_EQ(RoomPageUrl(servers_, false, lid), "http://127.0.0.1:18080/live/");
    EXPECT_EQ(RoomPageUrl(servers_, true, lid), "http://127.0.0.1:18080/live/room?lid=77");
    EXPECT_EQ(RoomPageUrl(servers_, false, lid), "http://127.0.0.1:18080/live/");
}

TEST(ChooseProbedAddress, MeasuredAddressesBeatFailedProbes) {
    EXPECT_EQ(ChooseProbedAddress({}), -1);
    EXPECT_EQ(ChooseProbedAddress({30, 10, 20}), 1);
    EXPECT_EQ(ChooseProbedAddress({20, 20}), 0);
    // A probe that failed (-1) must not win over a measured time.
    EXPECT_EQ(ChooseProbedAddress({-1, 400, 15}), 2);
    EXPECT_EQ(ChooseProbedAddress({5, -1}), 0);
    // Nothing measured: the first address of the answer.
    EXPECT_EQ(ChooseProbedAddress({-1, -1, -1}), 0);
}

TEST(ResolveStreamUrl, RewritesTheHostWithTheChosenAddress) {
    const auto resolve = [](const std::string& host) -> std::vector<std::string> {
        if (host == "live.example") return {"10.0.0.5", "10.0.0.6", "10.0.0.7"};
        return {};
    };
    const auto probe = [](int count, const std::string& address) {
        EXPECT_EQ(count, 2);
        return address == "10.0.0.5" ? -1 : address == "10.0.0.6" ? 40 : 12;
    };
    std::string out = "untouched";
    ASSERT_TRUE(ResolveStreamUrl("rtmp://live.example:1935/app", out, resolve, probe));
    EXPECT_EQ(out, "rtmp://10.0.0.7:1935/app");
    ASSERT_TRUE(ResolveStreamUrl("live.example/app/sub", out, resolve, probe));
    EXPECT_EQ(out, "10.0.0.7/app/sub");
    ASSERT_TRUE(ResolveStreamUrl("rtmp://live.example", out, resolve, probe));
    EXPECT_EQ(out, "rtmp://10.0.0.7");

    out = "untouched";
    EXPECT_FALSE(ResolveStreamUrl("rtmp://nowhere.example:1935/app", out, resolve, probe));
    EXPECT_EQ(out, "untouched");

    const auto noProbe = [](int, const std::string&) { return -1; };
    ASSERT_TRUE(ResolveStreamUrl("rtmp://live.example:1935/app", out, resolve, noProbe));
    EXPECT_EQ(out, "rtmp://10.0.0.5:1935/app");

    // A prefix cut short, or no host at all: nothing to resolve, and never an exception.
    for (const char* cut : {"rtmp:/", "abcde/", "rtmp://", "rtmp://:1935/app", "rtmp:///app", ""}) {
        SCOPED_TRACE(cut);
        out = "untouched";
        EXPECT_FALSE(ResolveStreamUrl(cut, out, [](const std::string& host) {
            return host.empty() ? std::vector<std::string>{} : std::vector<std::string>{"10.0.0.9"};
        }, probe));
        EXPECT_EQ(out, "untouched");
    }
}

// Real name resolution and real echo requests, on loopback only.
TEST(ResolveStreamUrl, ResolvesLocalhostAndDottedAddresses) {
    std::string out;
    ASSERT_TRUE(ResolveStreamUrl("rtmp://localhost:1935/live", out));
    EXPECT_EQ(out, "rtmp://127.0.0.1:1935/live");
    ASSERT_TRUE(ResolveStreamUrl("rtmp://127.0.0.1:1935/live", out));
    EXPECT_EQ(out, "rtmp://127.0.0.1:1935/live");
    ASSERT_TRUE(ResolveStreamUrl("127.0.0.1:11935/app", out));
    EXPECT_EQ(out, "127.0.0.1:11935/app");
}

}  // namespace
