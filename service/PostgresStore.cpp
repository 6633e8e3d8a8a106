#include "PostgresStore.h"

#include <libpq-fe.h>

#include <algorithm>
#include <climits>
#include <type_traits>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "TextRules.h"

namespace {

int64_t PgNow()
{
    return static_cast<int64_t>(std::time(nullptr));
}

struct ResultClear {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultClear>;

// A value as a text parameter: every parameter is sent as text and converted by the server.
struct PgParam {
    PgParam(const std::string& text) : value(text) {}  // NOLINT: implicit on purpose
    PgParam(const char* text) : value(text) {}          // NOLINT
    PgParam(int64_t number) : value(std::to_string(number)) {}  // NOLINT
    PgParam(int number) : value(std::to_string(number)) {}      // NOLINT
    std::string value;
};

// Runs one statement with its parameters; throws with the server's words on failure.
Result Query(PGconn* conn, const char* sql, std::initializer_list<PgParam> params = {})
{
    std::vector<const char*> values;
    std::vector<int> lengths;
    for (const auto& param : params) {
        values.push_back(param.value.c_str());
        lengths.push_back(static_cast<int>(param.value.size()));
    }
    // Without parameters a text may hold several statements (the schema), which only the
    // simple protocol takes.
    Result result(values.empty() ? PQexec(conn, sql)
                                 : PQexecParams(conn, sql, static_cast<int>(values.size()), nullptr, values.data(),
                                                lengths.data(), nullptr, 0));
    const auto status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        std::string message = result ? PQresultErrorMessage(result.get()) : PQerrorMessage(conn);
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw std::runtime_error("database: " + message);
    }
    return result;
}

std::string Text(const Result& result, int row, int column)
{
    return std::string(PQgetvalue(result.get(), row, column),
                       static_cast<size_t>(PQgetlength(result.get(), row, column)));
}

int64_t Number(const Result& result, int row, int column)
{
    return std::stoll(PQgetvalue(result.get(), row, column));
}

int Rows(const Result& result)
{
    return PQntuples(result.get());
}

int Changed(const Result& result)
{
    const char* count = PQcmdTuples(result.get());
    return count && *count ? std::stoi(count) : 0;
}

// PostgreSQL keeps text as valid UTF-8 without NUL and refuses anything else, where SQLite
// keeps any bytes. What is looked up by a client's text is first checked: no member, game or
// stream has a name the database could not hold.
bool Holdable(const std::string& text)
{
    return text.find('\0') == std::string::npos && TextRules::IsUtf8(text);
}

// Runs `work` in a transaction, rolling back when it throws.
template <typename Work>
auto InPgTransaction(PGconn* conn, Work&& work)
{
    Query(conn, "BEGIN");
    try {
        if constexpr (std::is_void_v<decltype(work())>) {
            work();
            Query(conn, "COMMIT");
        } else {
            auto value = work();
            Query(conn, "COMMIT");
            return value;
        }
    } catch (...) {
        if (PQstatus(conn) == CONNECTION_OK) Result rollback(PQexec(conn, "ROLLBACK"));
        throw;
    }
}

ServiceStore::RoomState PgStateFrom(const std::string& name)
{
    if (name == "issued") return ServiceStore::RoomState::Issued;
    if (name == "live") return ServiceStore::RoomState::Live;
    return ServiceStore::RoomState::Ended;
}

const char* PgStateName(ServiceStore::RoomState state)
{
    switch (state) {
    case ServiceStore::RoomState::Issued: return "issued";
    case ServiceStore::RoomState::Live: return "live";
    case ServiceStore::RoomState::Ended: break;
    }
    return "ended";
}

// Keys of the advisory locks that order what instances do at once.
constexpr int64_t kUpgradeLock = 0x5354524d0001;
constexpr int64_t kRegistrationLock = 0x5354524d0002;
constexpr int64_t kGamesLock = 0x5354524d0003;

// The tables of version 3, as SqliteStore has them; times in seconds since the epoch, the
// tallies' in milliseconds.
constexpr const char* kPgSchema = R"sql(
CREATE TABLE users(
  id BIGSERIAL PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  pass TEXT NOT NULL,
  created BIGINT NOT NULL,
  skeleton TEXT);
CREATE INDEX users_by_skeleton ON users(skeleton);
CREATE TABLE sessions(
  token_hash TEXT PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id),
  created BIGINT NOT NULL);
CREATE INDEX sessions_by_age ON sessions(created);
CREATE TABLE games(
  gid TEXT PRIMARY KEY,
  gname TEXT NOT NULL UNIQUE,
  ord BIGINT NOT NULL);
CREATE TABLE rooms(
  lid BIGSERIAL PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id),
  gid TEXT NOT NULL,
  title TEXT NOT NULL,
  stream TEXT NOT NULL UNIQUE,
  owner_addr TEXT NOT NULL,
  state TEXT NOT NULL,
  end_reason TEXT NOT NULL DEFAULT '',
  created BIGINT NOT NULL,
  started BIGINT NOT NULL DEFAULT 0,
  ended BIGINT NOT NULL DEFAULT 0);
CREATE INDEX rooms_by_state ON rooms(state);
CREATE INDEX rooms_by_user ON rooms(user_id, created);
CREATE TABLE posts(
  id BIGSERIAL PRIMARY KEY,
  user_id BIGINT NOT NULL REFERENCES users(id),
  text TEXT NOT NULL,
  created BIGINT NOT NULL);
CREATE TABLE tallies(
  key TEXT PRIMARY KEY,
  count BIGINT NOT NULL,
  locked_until BIGINT NOT NULL,
  last BIGINT NOT NULL,
  keep_until BIGINT NOT NULL);
CREATE INDEX tallies_by_end ON tallies(keep_until);
)sql";

constexpr const char* kPgRoomColumns =
    "SELECT r.lid, r.user_id, u.name, r.gid, COALESCE(g.gname, ''), r.title, r.stream, "
    "r.owner_addr, r.state, r.end_reason, r.created, r.started, r.ended "
    "FROM rooms r JOIN users u ON u.id = r.user_id LEFT JOIN games g ON g.gid = r.gid ";

std::vector<ServiceStore::Room> PgRooms(const Result& result)
{
    std::vector<ServiceStore::Room> rooms;
    for (int i = 0; i < Rows(result); ++i) {
        ServiceStore::Room room;
        room.lid = Number(result, i, 0);
        room.userId = Number(result, i, 1);
        room.userName = Text(result, i, 2);
        room.gid = Text(result, i, 3);
        room.gameName = Text(result, i, 4);
        room.title = Text(result, i, 5);
        room.stream = Text(result, i, 6);
        room.ownerAddr = Text(result, i, 7);
        room.state = PgStateFrom(Text(result, i, 8));
        room.endReason = Text(result, i, 9);
        room.created = Number(result, i, 10);
        room.started = Number(result, i, 11);
        room.ended = Number(result, i, 12);
        rooms.push_back(std::move(room));
    }
    return rooms;
}

// Rows of "SELECT id, name, pass, created".
std::optional<ServiceStore::User> PgUser(const Result& result)
{
    if (Rows(result) == 0) return std::nullopt;
    return ServiceStore::User{Number(result, 0, 0), Text(result, 0, 1), Text(result, 0, 2), Number(result, 0, 3)};
}

std::optional<ServiceStore::Game> PgGame(const Result& result)
{
    if (Rows(result) == 0) return std::nullopt;
    return ServiceStore::Game{Text(result, 0, 0), Text(result, 0, 1)};
}

ServiceStore::Tally PgTally(const Result& result, int row, int first)
{
    return {Number(result, row, first), Number(result, row, first + 1), Number(result, row, first + 2),
            Number(result, row, first + 3)};
}

}  // namespace

void PostgresStore::ConnectionClose::operator()(pg_conn* conn) const
{
    PQfinish(conn);
}

PostgresStore::PostgresStore(const std::string& conninfo, int connections)
    : conninfo_(conninfo), connections_(std::max(1, connections))
{
    Upgrade();
}

PostgresStore::~PostgresStore() = default;

PostgresStore::Handle PostgresStore::Connect() const
{
    Handle handle(PQconnectdb(conninfo_.c_str()));
    if (!handle || PQstatus(handle.get()) != CONNECTION_OK) {
        std::string message = handle ? PQerrorMessage(handle.get()) : "out of memory";
        while (!message.empty() && message.back() == '\n') message.pop_back();
        throw std::runtime_error("cannot connect to the database: " + message);
    }
    // Notices (an index that exists already...) are no news to the operator.
    PQsetNoticeProcessor(handle.get(), [](void*, const char*) {}, nullptr);
    Query(handle.get(), "SET client_encoding = 'UTF8'");
    return handle;
}

PostgresStore::Lease PostgresStore::Take()
{
    std::unique_lock lock(mutex_);
    idleChanged_.wait(lock, [this] { return !idle_.empty() || open_ < connections_; });
    if (!idle_.empty()) {
        Handle handle = std::move(idle_.back());
        idle_.pop_back();
        return Lease(*this, std::move(handle));
    }
    ++open_;
    lock.unlock();
    try {
        return Lease(*this, Connect());
    } catch (...) {
        lock.lock();
        --open_;
        idleChanged_.notify_one();
        throw;
    }
}

void PostgresStore::Give(Handle handle)
{
    std::lock_guard lock(mutex_);
    // One the server dropped, or left inside a transaction, is closed: the next call opens a
    // fresh one.
    if (handle && PQstatus(handle.get()) == CONNECTION_OK && PQtransactionStatus(handle.get()) == PQTRANS_IDLE) {
        idle_.push_back(std::move(handle));
    } else {
        handle.reset();
        --open_;
        // The server went away (a restart, a fail-over): the idle ones are as dead, and each
        // would fail a request of its own before being found out.
        open_ -= static_cast<int>(idle_.size());
        idle_.clear();
    }
    idleChanged_.notify_one();
}

PostgresStore::Lease::~Lease()
{
    store_.Give(std::move(handle_));
}

void PostgresStore::Upgrade()
{
    auto conn = Take();
    InPgTransaction(conn.get(), [&] {
        // Instances started together: one creates or upgrades, the others then find it done.
        Query(conn.get(), "SELECT pg_advisory_xact_lock($1)", {kUpgradeLock});
        Query(conn.get(), "CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)");
        const auto found = Query(conn.get(), "SELECT version FROM schema_version");
        const int version = Rows(found) > 0 ? static_cast<int>(Number(found, 0, 0)) : 0;
        if (version > kSchemaVersion) {
            throw std::runtime_error("the database was written by a newer strimo-service (tables of version " +
                                     std::to_string(version) + ", this one knows up to " +
                                     std::to_string(kSchemaVersion) + "); it is left as it is");
        }
        if (version == kSchemaVersion) return;
        // The first version kept here is the current one: later versions add their steps from
        // `version` on.
        Query(conn.get(), kPgSchema);
        Query(conn.get(), "DELETE FROM schema_version");
        Query(conn.get(), "INSERT INTO schema_version(version) VALUES($1)", {kSchemaVersion});
    });
}

bool PostgresStore::LooksLikeAMember(const std::string& name)
{
    if (!Holdable(name)) return false;
    auto conn = Take();
    return Rows(Query(conn.get(), "SELECT 1 FROM users WHERE skeleton = $1 AND name <> $2 LIMIT 1",
                      {TextRules::NameSkeleton(name), name})) > 0;
}

PostgresStore::AddUserResult PostgresStore::AddUser(const std::string& name, const std::string& passwordHash)
{
    const std::string skeleton = TextRules::NameSkeleton(name);
    auto conn = Take();
    return InPgTransaction(conn.get(), [&] {
        // Registrations one at a time, across instances: two look-alike names registered at
        // once cannot both get in.
        Query(conn.get(), "SELECT pg_advisory_xact_lock($1)", {kRegistrationLock});
        const auto added = Query(conn.get(),
                                 "INSERT INTO users(name, pass, created, skeleton) "
                                 "SELECT $1, $2, $3, $4 WHERE NOT EXISTS "
                                 "(SELECT 1 FROM users WHERE skeleton = $4 AND name <> $1) "
                                 "ON CONFLICT (name) DO NOTHING",
                                 {name, passwordHash, PgNow(), skeleton});
        if (Changed(added) == 1) return AddUserResult::Added;
        return Rows(Query(conn.get(), "SELECT 1 FROM users WHERE name = $1", {name})) > 0
                   ? AddUserResult::Exists
                   : AddUserResult::LooksLikeAnother;
    });
}

bool PostgresStore::SetPasswordHash(const std::string& name, const std::string& passwordHash)
{
    if (!Holdable(name)) return false;
    auto conn = Take();
    return InPgTransaction(conn.get(), [&] {
        if (Changed(Query(conn.get(), "UPDATE users SET pass = $1 WHERE name = $2", {passwordHash, name})) != 1) {
            return false;
        }
        // A new password ends every session opened with the old one.
        Query(conn.get(), "DELETE FROM sessions WHERE user_id = (SELECT id FROM users WHERE name = $1)", {name});
        return true;
    });
}

std::optional<PostgresStore::User> PostgresStore::FindUser(const std::string& name)
{
    if (!Holdable(name)) return std::nullopt;
    auto conn = Take();
    return PgUser(Query(conn.get(), "SELECT id, name, pass, created FROM users WHERE name = $1", {name}));
}

void PostgresStore::CreateSession(int64_t userId, const std::string& tokenHash)
{
    auto conn = Take();
    Query(conn.get(), "INSERT INTO sessions(token_hash, user_id, created) VALUES($1, $2, $3)",
          {tokenHash, userId, PgNow()});
}

std::optional<PostgresStore::User> PostgresStore::SessionUser(const std::string& tokenHash)
{
    if (!Holdable(tokenHash)) return std::nullopt;
    auto conn = Take();
    return PgUser(Query(conn.get(),
                        "SELECT u.id, u.name, u.pass, u.created FROM sessions s JOIN users u ON u.id = s.user_id "
                        "WHERE s.token_hash = $1 AND s.created >= $2",
                        {tokenHash, PgNow() - int64_t{kSessionDays} * 86400}));
}

void PostgresStore::EndSession(const std::string& tokenHash)
{
    if (!Holdable(tokenHash)) return;
    auto conn = Take();
    Query(conn.get(), "DELETE FROM sessions WHERE token_hash = $1", {tokenHash});
}

int PostgresStore::PurgeExpiredSessions()
{
    auto conn = Take();
    return Changed(Query(conn.get(), "DELETE FROM sessions WHERE created < $1",
                         {PgNow() - int64_t{kSessionDays} * 86400}));
}

void PostgresStore::SeedGames(const std::vector<Game>& games)
{
    auto conn = Take();
    InPgTransaction(conn.get(), [&] {
        // Instances started together fill the list once.
        Query(conn.get(), "SELECT pg_advisory_xact_lock($1)", {kGamesLock});
        if (Number(Query(conn.get(), "SELECT COUNT(*) FROM games"), 0, 0) > 0) return;
        int64_t order = 0;
        for (const auto& game : games) {
            Query(conn.get(), "INSERT INTO games(gid, gname, ord) VALUES($1, $2, $3)", {game.gid, game.gname, order++});
        }
    });
}

std::vector<PostgresStore::Game> PostgresStore::Games()
{
    auto conn = Take();
    const auto result = Query(conn.get(), "SELECT gid, gname FROM games ORDER BY ord, gid");
    std::vector<Game> games;
    for (int i = 0; i < Rows(result); ++i) games.push_back({Text(result, i, 0), Text(result, i, 1)});
    return games;
}

std::optional<PostgresStore::Game> PostgresStore::FindGame(const std::string& gid)
{
    if (!Holdable(gid)) return std::nullopt;
    auto conn = Take();
    return PgGame(Query(conn.get(), "SELECT gid, gname FROM games WHERE gid = $1", {gid}));
}

std::optional<PostgresStore::Game> PostgresStore::FindGameByName(const std::string& gname)
{
    if (!Holdable(gname)) return std::nullopt;
    auto conn = Take();
    return PgGame(Query(conn.get(), "SELECT gid, gname FROM games WHERE gname = $1", {gname}));
}

int64_t PostgresStore::CreateRoom(int64_t userId, const std::string& gid, const std::string& title,
                                  const std::string& stream, const std::string& ownerAddr)
{
    auto conn = Take();
    return Number(Query(conn.get(),
                        "INSERT INTO rooms(user_id, gid, title, stream, owner_addr, state, created) "
                        "VALUES($1, $2, $3, $4, $5, 'issued', $6) RETURNING lid",
                        {userId, gid, title, stream, ownerAddr, PgNow()}),
                  0, 0);
}

std::optional<PostgresStore::Room> PostgresStore::FindRoom(int64_t lid)
{
    auto conn = Take();
    auto rooms = PgRooms(Query(conn.get(), (std::string(kPgRoomColumns) + "WHERE r.lid = $1").c_str(), {lid}));
    if (rooms.empty()) return std::nullopt;
    return rooms.front();
}

std::optional<PostgresStore::Room> PostgresStore::FindRoomByStream(const std::string& stream)
{
    if (!Holdable(stream)) return std::nullopt;
    auto conn = Take();
    auto rooms = PgRooms(Query(conn.get(), (std::string(kPgRoomColumns) + "WHERE r.stream = $1").c_str(), {stream}));
    if (rooms.empty()) return std::nullopt;
    return rooms.front();
}

std::vector<PostgresStore::Room> PostgresStore::LiveRooms()
{
    auto conn = Take();
    return PgRooms(Query(conn.get(),
                         (std::string(kPgRoomColumns) + "WHERE r.state = 'live' ORDER BY r.started DESC LIMIT 200").c_str()));
}

std::vector<PostgresStore::Room> PostgresStore::RoomsOfUser(int64_t userId, int limit)
{
    auto conn = Take();
    return PgRooms(Query(conn.get(),
                         (std::string(kPgRoomColumns) + "WHERE r.user_id = $1 ORDER BY r.lid DESC LIMIT $2").c_str(),
                         {userId, limit}));
}

int PostgresStore::RoomsCreatedSince(int64_t userId, int seconds)
{
    auto conn = Take();
    return static_cast<int>(Number(
        Query(conn.get(), "SELECT COUNT(*) FROM rooms WHERE user_id = $1 AND created >= $2", {userId, PgNow() - seconds}),
        0, 0));
}

int PostgresStore::LiveRoomsOfUser(int64_t userId)
{
    auto conn = Take();
    return static_cast<int>(
        Number(Query(conn.get(), "SELECT COUNT(*) FROM rooms WHERE user_id = $1 AND state = 'live'", {userId}), 0, 0));
}

PostgresStore::PublishResult PostgresStore::StartPublish(const std::string& stream, int graceSeconds)
{
    if (!Holdable(stream)) return PublishResult::Unknown;
    auto conn = Take();
    const int64_t now = PgNow();
    // One statement: of two publishers racing for a name, on any instances, one gets it.
    const auto started = Query(conn.get(),
                               "UPDATE rooms SET state = 'live', end_reason = '', ended = 0, "
                               "  started = CASE WHEN started = 0 THEN $1 ELSE started END "
                               "WHERE stream = $2 AND (state = 'issued' OR "
                               "  (state = 'ended' AND end_reason = 'publish_done' AND ended >= $3))",
                               {now, stream, now - graceSeconds});
    if (Changed(started) == 1) return PublishResult::Accepted;
    return Rows(Query(conn.get(), "SELECT 1 FROM rooms WHERE stream = $1", {stream})) > 0 ? PublishResult::Refused
                                                                                          : PublishResult::Unknown;
}

void PostgresStore::PublishDone(const std::string& stream)
{
    if (!Holdable(stream)) return;
    auto conn = Take();
    Query(conn.get(),
          "UPDATE rooms SET state = 'ended', end_reason = 'publish_done', ended = $1 WHERE stream = $2 AND state = 'live'",
          {PgNow(), stream});
}

int PostgresStore::EndAllLive()
{
    auto conn = Take();
    return Changed(Query(conn.get(),
                         "UPDATE rooms SET state = 'ended', end_reason = 'publish_done', ended = $1 WHERE state = 'live'",
                         {PgNow()}));
}

PostgresStore::EndResult PostgresStore::EndByNotice(int64_t lid, const std::string& fromAddr)
{
    auto conn = Take();
    return InPgTransaction(conn.get(), [&] {
        const auto found =
            Query(conn.get(), "SELECT owner_addr, state, end_reason FROM rooms WHERE lid = $1 FOR UPDATE", {lid});
        if (Rows(found) == 0) return EndResult::NotFound;
        if (Text(found, 0, 0) != fromAddr) return EndResult::NotOwner;
        if (Text(found, 0, 1) == "ended" && Text(found, 0, 2) == "notice") return EndResult::AlreadyEnded;
        // An end notice also closes the reconnection window a dropped publisher had left open.
        Query(conn.get(),
              "UPDATE rooms SET state = 'ended', end_reason = 'notice', "
              "  ended = CASE WHEN state = 'ended' THEN ended ELSE $1 END WHERE lid = $2",
              {PgNow(), lid});
        return EndResult::Ended;
    });
}

void PostgresStore::AddPost(int64_t userId, const std::string& text)
{
    auto conn = Take();
    Query(conn.get(), "INSERT INTO posts(user_id, text, created) VALUES($1, $2, $3)", {userId, text, PgNow()});
}

std::vector<PostgresStore::Post> PostgresStore::Posts(int limit)
{
    auto conn = Take();
    const auto result = Query(conn.get(),
                              "SELECT p.id, u.name, p.text, p.created FROM posts p JOIN users u ON u.id = p.user_id "
                              "ORDER BY p.id DESC LIMIT $1",
                              {limit});
    std::vector<Post> posts;
    for (int i = 0; i < Rows(result); ++i) {
        posts.push_back({Number(result, i, 0), Text(result, i, 1), Text(result, i, 2), Number(result, i, 3)});
    }
    return posts;
}

std::optional<PostgresStore::Tally> PostgresStore::FindTally(const std::string& key)
{
    if (!Holdable(key)) return std::nullopt;
    auto conn = Take();
    const auto found = Query(conn.get(), "SELECT count, locked_until, last, keep_until FROM tallies WHERE key = $1", {key});
    if (Rows(found) == 0) return std::nullopt;
    return PgTally(found, 0, 0);
}

PostgresStore::Tally PostgresStore::ChangeTally(const std::string& key, const std::function<void(Tally&)>& change)
{
    if (!Holdable(key)) throw std::runtime_error("database: a tally's key must be UTF-8 text");
    auto conn = Take();
    return InPgTransaction(conn.get(), [&] {
        // The row first, then locked: a count on another instance waits for this one and then
        // reads what this one wrote.
        Query(conn.get(),
              "INSERT INTO tallies(key, count, locked_until, last, keep_until) VALUES($1, 0, 0, 0, 0) "
              "ON CONFLICT (key) DO NOTHING",
              {key});
        Tally tally = PgTally(
            Query(conn.get(), "SELECT count, locked_until, last, keep_until FROM tallies WHERE key = $1 FOR UPDATE", {key}),
            0, 0);
        change(tally);
        Query(conn.get(), "UPDATE tallies SET count = $2, locked_until = $3, last = $4, keep_until = $5 WHERE key = $1",
              {key, tally.count, tally.lockedUntil, tally.last, tally.keepUntil});
        return tally;
    });
}

void PostgresStore::ForgetTally(const std::string& key)
{
    if (!Holdable(key)) return;
    auto conn = Take();
    Query(conn.get(), "DELETE FROM tallies WHERE key = $1", {key});
}

int PostgresStore::ForgetTalliesPast(int64_t now)
{
    auto conn = Take();
    return Changed(Query(conn.get(), "DELETE FROM tallies WHERE keep_until < $1", {now}));
}

PostgresStore::Contents PostgresStore::Read()
{
    auto conn = Take();
    Contents contents;
    // One snapshot of everything, whatever instances write meanwhile.
    Query(conn.get(), "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY");
    try {
        const auto users =
            Query(conn.get(), "SELECT id, name, pass, created, COALESCE(skeleton, '') FROM users ORDER BY id");
        for (int i = 0; i < Rows(users); ++i) {
            contents.users.push_back(
                {{Number(users, i, 0), Text(users, i, 1), Text(users, i, 2), Number(users, i, 3)}, Text(users, i, 4)});
        }
        const auto sessions = Query(conn.get(), "SELECT token_hash, user_id, created FROM sessions ORDER BY created");
        for (int i = 0; i < Rows(sessions); ++i) {
            contents.sessions.push_back({Text(sessions, i, 0), Number(sessions, i, 1), Number(sessions, i, 2)});
        }
        const auto games = Query(conn.get(), "SELECT gid, gname FROM games ORDER BY ord, gid");
        for (int i = 0; i < Rows(games); ++i) contents.games.push_back({Text(games, i, 0), Text(games, i, 1)});
        contents.rooms = PgRooms(Query(conn.get(), (std::string(kPgRoomColumns) + "ORDER BY r.lid").c_str()));
        const auto posts = Query(conn.get(), "SELECT id, user_id, text, created FROM posts ORDER BY id");
        for (int i = 0; i < Rows(posts); ++i) {
            contents.posts.push_back({Number(posts, i, 0), Number(posts, i, 1), Text(posts, i, 2), Number(posts, i, 3)});
        }
        const auto tallies = Query(conn.get(), "SELECT key, count, locked_until, last, keep_until FROM tallies ORDER BY key");
        for (int i = 0; i < Rows(tallies); ++i) contents.tallies.emplace_back(Text(tallies, i, 0), PgTally(tallies, i, 1));
        Query(conn.get(), "COMMIT");
    } catch (...) {
        if (PQstatus(conn.get()) == CONNECTION_OK) Result rollback(PQexec(conn.get(), "ROLLBACK"));
        throw;
    }
    return contents;
}

void PostgresStore::Fill(const Contents& contents)
{
    auto conn = Take();
    InPgTransaction(conn.get(), [&] {
        Query(conn.get(), "LOCK TABLE users, rooms IN EXCLUSIVE MODE");
        if (Number(Query(conn.get(), "SELECT (SELECT COUNT(*) FROM users) + (SELECT COUNT(*) FROM rooms)"), 0, 0) > 0) {
            throw std::runtime_error("the database to fill holds members or rooms already");
        }
        Query(conn.get(), "DELETE FROM games");
        for (const auto& row : contents.users) {
            Query(conn.get(), "INSERT INTO users(id, name, pass, created, skeleton) VALUES($1, $2, $3, $4, $5)",
                  {row.user.id, row.user.name, row.user.passwordHash, row.user.created,
                   row.skeleton.empty() ? TextRules::NameSkeleton(row.user.name) : row.skeleton});
        }
        for (const auto& row : contents.sessions) {
            Query(conn.get(), "INSERT INTO sessions(token_hash, user_id, created) VALUES($1, $2, $3)",
                  {row.tokenHash, row.userId, row.created});
        }
        int64_t order = 0;
        for (const auto& game : contents.games) {
            Query(conn.get(), "INSERT INTO games(gid, gname, ord) VALUES($1, $2, $3)", {game.gid, game.gname, order++});
        }
        for (const auto& room : contents.rooms) {
            Query(conn.get(),
                  "INSERT INTO rooms(lid, user_id, gid, title, stream, owner_addr, state, end_reason, created, "
                  "started, ended) VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11)",
                  {room.lid, room.userId, room.gid, room.title, room.stream, room.ownerAddr, PgStateName(room.state),
                   room.endReason, room.created, room.started, room.ended});
        }
        for (const auto& post : contents.posts) {
            Query(conn.get(), "INSERT INTO posts(id, user_id, text, created) VALUES($1, $2, $3, $4)",
                  {post.id, post.userId, post.text, post.created});
        }
        for (const auto& [key, tally] : contents.tallies) {
            Query(conn.get(),
                  "INSERT INTO tallies(key, count, locked_until, last, keep_until) VALUES($1, $2, $3, $4, $5) "
                  "ON CONFLICT (key) DO UPDATE SET count = $2, locked_until = $3, last = $4, keep_until = $5",
                  {key, tally.count, tally.lockedUntil, tally.last, tally.keepUntil});
        }
        // Numbers given later follow the ones moved in, as they would have in the old store.
        for (const char* table : {"users", "rooms", "posts"}) {
            const std::string column = std::string(table) == "rooms" ? "lid" : "id";
            Query(conn.get(), ("SELECT setval(pg_get_serial_sequence('" + std::string(table) + "', '" + column +
                               "'), COALESCE(MAX(" + column + "), 0) + 1, false) FROM " + table)
                                  .c_str());
        }
    });
}
