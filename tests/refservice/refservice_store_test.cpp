// The service's database under one contract, on each store it can keep it in: a SQLite file,
// and a PostgreSQL database of the private cluster of tests/fixtures/with-postgres.sh. Every
// case runs on both; what only several instances sharing one database can show opens the same
// database twice.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "LoginThrottle.h"
#include "PostgresDatabase.h"
#include "RequestRate.h"
#include "ServiceStore.h"
#include "SqliteStore.h"
#include "TempDir.h"

using testsupport::PostgresDatabase;
using testsupport::TempDir;

class Store : public ::testing::TestWithParam<std::string> {
protected:
    bool Postgres() const { return GetParam() == "postgresql"; }

    // The test's database; opened again, it is the one another instance of the service opens.
    std::unique_ptr<ServiceStore> Open() { return ServiceStore::Open(database_); }

    // A store on a new, empty database of its own.
    std::unique_ptr<ServiceStore> OpenFresh()
    {
        database_ = NewDatabase();
        return Open();
    }
    std::string NewDatabase()
    {
        if (Postgres()) {
            databases_.push_back(std::make_unique<PostgresDatabase>());
            return databases_.back()->Url();
        }
        return dir_ / ("strimo-" + std::to_string(files_++) + ".db");
    }

    // SQL that both stores understand, as the operator (or an earlier version) would run it.
    void Sql(const std::string& sql)
    {
        if (Postgres()) {
            databases_.back()->Run(sql);
            return;
        }
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(database_.c_str(), &db), SQLITE_OK);
        char* error = nullptr;
        const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
        const std::string message = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(db);
        ASSERT_EQ(rc, SQLITE_OK) << sql << ": " << message;
    }

    TempDir dir_;
    std::vector<std::unique_ptr<PostgresDatabase>> databases_;
    int files_ = 0;
    std::string database_ = NewDatabase();
};

INSTANTIATE_TEST_SUITE_P(, Store, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<std::string>& param) { return param.param; });

TEST_P(Store, UserTextNeverBecomesSql)
{
    const std::string evil = "x'); DROP TABLE users; --";
    {
        auto store = Open();
        store->SeedGames({{"1", "Game"}, {"99", "其他"}});
        EXPECT_EQ(store->AddUser(evil, "h1"), ServiceStore::AddUserResult::Added);
        EXPECT_EQ(store->AddUser("demo", "h2"), ServiceStore::AddUserResult::Added);
        EXPECT_EQ(store->AddUser("demo", "h3"), ServiceStore::AddUserResult::Exists);
        const auto user = store->FindUser(evil);
        ASSERT_TRUE(user);
        const auto lid = store->CreateRoom(user->id, "1' OR '1'='1", "'; DELETE FROM rooms; --", "s1", "127.0.0.1");
        EXPECT_EQ(store->FindRoom(lid)->title, "'; DELETE FROM rooms; --");
        EXPECT_FALSE(store->FindGame("1' OR '1'='1"));
        EXPECT_FALSE(store->FindUser("' OR 1=1 --"));
    }
    auto reopened = Open();  // the database survives a restart with everything in it
    EXPECT_EQ(reopened->FindUser("demo")->passwordHash, "h2");
    EXPECT_TRUE(reopened->FindUser(evil));
    EXPECT_EQ(reopened->Games().size(), 2u);
    EXPECT_TRUE(reopened->FindRoomByStream("s1"));
}

TEST_P(Store, SeedingHappensOnlyOnce)
{
    auto store = Open();
    store->SeedGames({{"1", "A"}, {"2", "B"}});
    store->SeedGames({{"7", "C"}});
    const auto games = store->Games();
    ASSERT_EQ(games.size(), 2u);
    EXPECT_EQ(games[0].gname, "A");
    EXPECT_EQ(games[1].gid, "2");
}

TEST_P(Store, SessionsAreKeptByHashAndEndWithAPasswordChange)
{
    auto store = Open();
    store->AddUser("demo", "h");
    const auto id = store->FindUser("demo")->id;
    store->CreateSession(id, "hash-of-token");
    EXPECT_EQ(store->SessionUser("hash-of-token")->name, "demo");
    EXPECT_FALSE(store->SessionUser("other"));
    EXPECT_TRUE(store->SetPasswordHash("demo", "h2"));
    EXPECT_FALSE(store->SessionUser("hash-of-token"));
    EXPECT_FALSE(store->SetPasswordHash("nobody", "h"));
}

TEST_P(Store, SessionsExpire)
{
    {
        auto store = Open();
        store->AddUser("demo", "h");
    }
    Sql("INSERT INTO sessions VALUES('from-long-ago', 1, 1000)");
    auto store = Open();
    EXPECT_FALSE(store->SessionUser("from-long-ago"));
    store->CreateSession(1, "fresh");
    EXPECT_TRUE(store->SessionUser("fresh"));
    // Expired rows are deleted, live ones stay; a log-out deletes its own.
    EXPECT_EQ(store->PurgeExpiredSessions(), 1);
    EXPECT_EQ(store->PurgeExpiredSessions(), 0);
    EXPECT_TRUE(store->SessionUser("fresh"));
    store->EndSession("fresh");
    EXPECT_FALSE(store->SessionUser("fresh"));
}

TEST_P(Store, PublishRules)
{
    auto store = Open();
    store->AddUser("demo", "h");
    const auto id = store->FindUser("demo")->id;
    const auto lid = store->CreateRoom(id, "1", "t", "sname", "127.0.0.1");
    using R = ServiceStore::PublishResult;

    EXPECT_EQ(store->StartPublish("made-up", 60), R::Unknown);
    EXPECT_EQ(store->StartPublish("sname", 60), R::Accepted);
    EXPECT_EQ(store->FindRoom(lid)->state, ServiceStore::RoomState::Live);
    EXPECT_EQ(store->StartPublish("sname", 60), R::Refused);  // a second publisher while live

    store->PublishDone("sname");
    EXPECT_EQ(store->FindRoom(lid)->state, ServiceStore::RoomState::Ended);
    EXPECT_EQ(store->StartPublish("sname", 60), R::Accepted);  // the one reconnection
    store->PublishDone("sname");
    EXPECT_EQ(store->StartPublish("sname", -1), R::Refused);   // grace over

    EXPECT_EQ(store->EndByNotice(lid, "127.0.0.1"), ServiceStore::EndResult::Ended);
    EXPECT_EQ(store->StartPublish("sname", 60), R::Refused);   // ended rooms stay ended
    EXPECT_EQ(store->EndByNotice(lid, "127.0.0.1"), ServiceStore::EndResult::AlreadyEnded);
}

TEST_P(Store, ARestartedStreamingServerLeavesNoRoomLive)
{
    auto store = Open();
    store->AddUser("demo", "h");
    const auto id = store->FindUser("demo")->id;
    const auto live = store->CreateRoom(id, "1", "t", "s-live", "a");
    const auto issued = store->CreateRoom(id, "1", "t", "s-issued", "a");
    store->StartPublish("s-live", 60);
    EXPECT_EQ(store->EndAllLive(), 1);
    EXPECT_EQ(store->FindRoom(live)->state, ServiceStore::RoomState::Ended);
    EXPECT_EQ(store->FindRoom(issued)->state, ServiceStore::RoomState::Issued);
    EXPECT_TRUE(store->LiveRooms().empty());
    // The broadcaster's reconnection to the new server still finds its room.
    EXPECT_EQ(store->StartPublish("s-live", 60), ServiceStore::PublishResult::Accepted);
}

TEST_P(Store, EndNoticeOnlyFromTheRoomsOwnerAddress)
{
    auto store = Open();
    store->AddUser("demo", "h");
    const auto lid = store->CreateRoom(store->FindUser("demo")->id, "1", "t", "sname", "10.1.2.3");
    store->StartPublish("sname", 60);
    EXPECT_EQ(store->EndByNotice(lid, "10.9.9.9"), ServiceStore::EndResult::NotOwner);
    EXPECT_EQ(store->FindRoom(lid)->state, ServiceStore::RoomState::Live);
    EXPECT_EQ(store->EndByNotice(lid + 1, "10.1.2.3"), ServiceStore::EndResult::NotFound);
    EXPECT_EQ(store->EndByNotice(lid, "10.1.2.3"), ServiceStore::EndResult::Ended);
    EXPECT_EQ(store->FindRoom(lid)->endReason, "notice");
    EXPECT_TRUE(store->LiveRooms().empty());
}

TEST_P(Store, ConcurrentWritersAllLand)
{
    auto store = Open();
    store->AddUser("demo", "h");
    const auto id = store->FindUser("demo")->id;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                store->CreateRoom(id, "1", "t", "s" + std::to_string(t) + "-" + std::to_string(i), "a");
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(store->RoomsOfUser(id, 1000).size(), 200u);
}

TEST_P(Store, ThrottleFailuresLockForLongerAndLongerAndASuccessForgets)
{
    using namespace std::chrono_literals;
    auto store = Open();
    LoginThrottle throttle(*store);
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
TEST_P(Store, ThrottleAGuesserGetsNothingAndTheMemberStillLogsIn)
{
    using namespace std::chrono_literals;
    const std::string attacker = "203.0.113.7";
    const std::string home = "198.51.100.2";
    {
        auto store = Open();
    LoginThrottle throttle(*store);
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
        auto store = Open();
    LoginThrottle throttle(*store);
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
        auto store = Open();
    LoginThrottle throttle(*store);
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

// Look-alike names are found by one lookup of the new name's skeleton, which every member's row
// holds; a file made before the rows held it is brought up to date when it is opened, and
// keeps whatever look-alikes it already had.
TEST(StoreFile, LookAlikesAreFoundInFilesOfEveryVersion)
{
    TempDir dir;
    const std::string path = dir / "strimo.db";
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
        SqliteStore store(path);
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
    SqliteStore store(path);
    EXPECT_NE(store.AddUser("\u0430lice", "h"), R::Added);
    EXPECT_EQ(store.FindUser("rnoon")->passwordHash, "h2");
}


// Instances of the service share one database and nothing else: what one instance did, the
// other sees at once, and counts both make at the same moment all count.
TEST_P(Store, InstancesOnOneDatabaseShareSessionsCountsAndRooms)
{
    using namespace std::chrono_literals;
    auto one = Open();
    auto two = Open();
    ASSERT_EQ(one->AddUser("demo", "h"), ServiceStore::AddUserResult::Added);
    EXPECT_EQ(two->AddUser("dem\u043E", "h"), ServiceStore::AddUserResult::LooksLikeAnother);
    const auto id = two->FindUser("demo")->id;
    one->CreateSession(id, "token-hash");
    EXPECT_EQ(two->SessionUser("token-hash")->name, "demo");
    two->EndSession("token-hash");
    EXPECT_FALSE(one->SessionUser("token-hash"));

    // A guesser that spreads the tries over both instances is locked on both.
    LoginThrottle throttleOne(*one), throttleTwo(*two);
    const auto now = LoginThrottle::Clock::now();
    for (int i = 0; i <= LoginThrottle::kFreeFailuresPerPair; ++i) {
        (i % 2 ? throttleOne : throttleTwo).Failed("demo", "203.0.113.7", now);
    }
    EXPECT_TRUE(throttleOne.Locked("demo", "203.0.113.7", now));
    EXPECT_TRUE(throttleTwo.Locked("demo", "203.0.113.7", now));
    EXPECT_FALSE(throttleTwo.Locked("demo", "203.0.113.7", now + LoginThrottle::kFirstLock));
    RequestRate rateOne(*one, "registration", 1, 2), rateTwo(*two, "registration", 1, 2);
    const auto at = RequestRate::Clock::now();
    EXPECT_TRUE(rateOne.Take("198.51.100.1", at));
    EXPECT_TRUE(rateTwo.Take("198.51.100.1", at));
    std::chrono::seconds wait{};
    EXPECT_FALSE(rateOne.Take("198.51.100.1", at, &wait));
    EXPECT_EQ(wait, 60s);
    EXPECT_TRUE(rateTwo.Take("198.51.100.2", at));  // another address, another bucket
    EXPECT_TRUE(rateOne.Take("198.51.100.1", at + 60s));

    const auto lid = one->CreateRoom(id, "1", "t", "sname", "127.0.0.1");
    EXPECT_EQ(two->StartPublish("sname", 60), ServiceStore::PublishResult::Accepted);
    EXPECT_EQ(one->StartPublish("sname", 60), ServiceStore::PublishResult::Refused);
    EXPECT_EQ(one->LiveRooms().size(), 1u);
    EXPECT_EQ(one->EndByNotice(lid, "127.0.0.1"), ServiceStore::EndResult::Ended);
    EXPECT_EQ(two->FindRoom(lid)->endReason, "notice");

    // Counted from both instances at once, by several threads each: none is lost.
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                (t % 2 ? *one : *two).ChangeTally("shared", [](ServiceStore::Tally& tally) { ++tally.count; });
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(one->FindTally("shared")->count, 300);
}

TEST_P(Store, TalliesAreForgottenWhenTheyNoLongerMatter)
{
    auto store = Open();
    store->ChangeTally("a", [](ServiceStore::Tally& tally) { tally = {1, 0, 10, 100}; });
    store->ChangeTally("b", [](ServiceStore::Tally& tally) { tally = {1, 0, 10, 300}; });
    EXPECT_EQ(store->ForgetTalliesPast(200), 1);
    EXPECT_FALSE(store->FindTally("a"));
    EXPECT_EQ(store->FindTally("b")->keepUntil, 300);
    store->ForgetTally("b");
    EXPECT_FALSE(store->FindTally("b"));
}

// A client's text the database could not hold (PostgreSQL keeps only UTF-8 without NUL) finds
// nothing, as any other unknown name, instead of failing the request.
TEST_P(Store, TextNoDatabaseCanHoldFindsNothing)
{
    auto store = Open();
    store->AddUser("demo", "h");
    for (const std::string& text : {std::string("\xff\xfe"), std::string("de\0mo", 5), std::string("\xe4\xbd")}) {
        EXPECT_FALSE(store->FindUser(text));
        EXPECT_FALSE(store->LooksLikeAMember(text));
        EXPECT_FALSE(store->SessionUser(text));
        EXPECT_FALSE(store->FindGame(text));
        EXPECT_FALSE(store->FindGameByName(text));
        EXPECT_FALSE(store->FindRoomByStream(text));
        EXPECT_EQ(store->StartPublish(text, 60), ServiceStore::PublishResult::Unknown);
        EXPECT_FALSE(store->SetPasswordHash(text, "h2"));
    }
    EXPECT_EQ(store->FindUser("demo")->passwordHash, "h");
}

// Tables written by a newer version of the service are not touched by an older one, which
// would not know what they mean.
TEST_P(Store, TablesOfANewerVersionAreRefused)
{
    Open();
    Sql(Postgres() ? "UPDATE schema_version SET version = 99" : "PRAGMA user_version = 99");
    try {
        Open();
        FAIL() << "a database of a newer version was opened";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("newer strimo-service"), std::string::npos) << e.what();
    }
}

namespace {

std::string Describe(const ServiceStore::Contents& contents)
{
    std::string text;
    auto add = [&](auto... fields) { ((text += fields, text += '|'), ...), text += '\n'; };
    auto n = [](int64_t value) { return std::to_string(value); };
    for (const auto& row : contents.users) {
        add(n(row.user.id), row.user.name, row.user.passwordHash, n(row.user.created), row.skeleton);
    }
    for (const auto& row : contents.sessions) add(row.tokenHash, n(row.userId), n(row.created));
    for (const auto& game : contents.games) add(game.gid, game.gname);
    for (const auto& room : contents.rooms) {
        add(n(room.lid), n(room.userId), room.userName, room.gid, room.gameName, room.title, room.stream,
            room.ownerAddr, n(static_cast<int>(room.state)), room.endReason, n(room.created), n(room.started),
            n(room.ended));
    }
    for (const auto& post : contents.posts) add(n(post.id), n(post.userId), post.text, n(post.created));
    for (const auto& [key, tally] : contents.tallies) {
        add(key, n(tally.count), n(tally.lockedUntil), n(tally.last), n(tally.keepUntil));
    }
    return text;
}

}  // namespace

// The operator's move from one store to the other keeps every row as it was, members' and
// rooms' numbers included (room pages are addressed by them), and what comes after is numbered
// after them.
TEST_P(Store, MovingToTheOtherStoreKeepsEverything)
{
    auto from = Open();
    from->SeedGames({{"1", "Game"}, {"99", "其他"}});
    from->AddUser("demo", "h1");
    from->AddUser("玩家_01", "h2");
    const auto demo = from->FindUser("demo")->id;
    const auto player = from->FindUser("玩家_01")->id;
    from->CreateSession(demo, "token-1");
    from->CreateSession(player, "token-2");
    const auto ended = from->CreateRoom(demo, "1", "标题 'quoted'", "s-ended", "10.0.0.1");
    from->StartPublish("s-ended", 60);
    from->EndByNotice(ended, "10.0.0.1");
    from->CreateRoom(player, "99", "t", "s-live", "10.0.0.2");
    from->StartPublish("s-live", 60);
    from->CreateRoom(demo, "1", "t", "s-issued", "10.0.0.1");
    from->AddPost(player, "第一 post");
    from->ChangeTally("k", [](ServiceStore::Tally& tally) { tally = {3, 4, 5, 6}; });
    const auto contents = from->Read();
    ASSERT_EQ(contents.rooms.size(), 3u);

    PostgresDatabase otherPostgres;
    const std::string other = Postgres() ? dir_ / "moved.db" : otherPostgres.Url();
    auto to = ServiceStore::Open(other);
    to->Fill(contents);
    EXPECT_EQ(Describe(to->Read()), Describe(contents));
    EXPECT_EQ(to->SessionUser("token-2")->name, "玩家_01");
    EXPECT_EQ(to->StartPublish("s-ended", 60), ServiceStore::PublishResult::Refused);
    EXPECT_EQ(to->StartPublish("s-issued", 60), ServiceStore::PublishResult::Accepted);
    EXPECT_GT(to->CreateRoom(demo, "1", "t", "s-new", "a"), contents.rooms.back().lid);
    EXPECT_EQ(to->AddUser("newbie", "h"), ServiceStore::AddUserResult::Added);
    EXPECT_GT(to->FindUser("newbie")->id, player);
    to->AddPost(demo, "second");
    EXPECT_EQ(to->Posts(10).front().text, "second");
    // Only into an empty store: a second move would mix two services' members.
    EXPECT_THROW(to->Fill(contents), std::runtime_error);
    EXPECT_EQ(to->Read().rooms.size(), 4u);
}

// The database server restarts (or fails over) under a running instance: the connections of
// its pool are all gone. The request that finds it out may fail; the ones after it do not.
TEST(PostgresStoreConnections, ThoseTheServerDroppedAreReplaced)
{
    PostgresDatabase database;
    auto store = ServiceStore::Open(database.Url());
    store->AddUser("demo", "h");
    // Calls side by side, so that the pool holds several connections.
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) store->ChangeTally("k", [](ServiceStore::Tally& tally) { ++tally.count; });
        });
    }
    for (auto& thread : threads) thread.join();
    database.Run("SELECT pg_terminate_backend(pid) FROM pg_stat_activity "
                 "WHERE datname = current_database() AND pid <> pg_backend_pid()");
    int failed = 0;
    for (int i = 0; i < 10; ++i) {
        try {
            EXPECT_TRUE(store->FindUser("demo"));
        } catch (const std::runtime_error&) {
            ++failed;
        }
    }
    EXPECT_LE(failed, 1) << "requests failed on connections the server had dropped";
    EXPECT_EQ(store->FindTally("k")->count, 120);
}
