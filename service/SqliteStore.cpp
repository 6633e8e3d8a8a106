#include "SqliteStore.h"

#include <sqlite3.h>

#include <climits>
#include <ctime>
#include <stdexcept>
#include <utility>

#include "TextRules.h"

namespace {

int64_t Now()
{
    return static_cast<int64_t>(std::time(nullptr));
}

void Bind(sqlite3_stmt* stmt, int index, const std::string& text)
{
    sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void Bind(sqlite3_stmt* stmt, int index, int64_t value)
{
    sqlite3_bind_int64(stmt, index, value);
}

std::string Column(sqlite3_stmt* stmt, int index)
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
    return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(stmt, index))) : std::string{};
}

SqliteStore::RoomState StateFrom(const std::string& name)
{
    if (name == "issued") return SqliteStore::RoomState::Issued;
    if (name == "live") return SqliteStore::RoomState::Live;
    return SqliteStore::RoomState::Ended;
}

const char* StateName(SqliteStore::RoomState state)
{
    switch (state) {
    case SqliteStore::RoomState::Issued: return "issued";
    case SqliteStore::RoomState::Live: return "live";
    case SqliteStore::RoomState::Ended: break;
    }
    return "ended";
}

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS users(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  pass TEXT NOT NULL,
  created INTEGER NOT NULL,
  skeleton TEXT);
CREATE TABLE IF NOT EXISTS sessions(
  token_hash TEXT PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS games(
  gid TEXT PRIMARY KEY,
  gname TEXT NOT NULL UNIQUE,
  ord INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS rooms(
  lid INTEGER PRIMARY KEY AUTOINCREMENT,
  user_id INTEGER NOT NULL REFERENCES users(id),
  gid TEXT NOT NULL,
  title TEXT NOT NULL,
  stream TEXT NOT NULL UNIQUE,
  owner_addr TEXT NOT NULL,
  state TEXT NOT NULL,
  end_reason TEXT NOT NULL DEFAULT '',
  created INTEGER NOT NULL,
  started INTEGER NOT NULL DEFAULT 0,
  ended INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS rooms_by_state ON rooms(state);
CREATE INDEX IF NOT EXISTS rooms_by_user ON rooms(user_id, created);
CREATE INDEX IF NOT EXISTS sessions_by_age ON sessions(created);
CREATE TABLE IF NOT EXISTS posts(
  id INTEGER PRIMARY KEY,
  user_id INTEGER NOT NULL REFERENCES users(id),
  text TEXT NOT NULL,
  created INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS tallies(
  key TEXT PRIMARY KEY,
  count INTEGER NOT NULL,
  locked_until INTEGER NOT NULL,
  last INTEGER NOT NULL,
  keep_until INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS tallies_by_end ON tallies(keep_until);
)sql";

constexpr const char* kRoomColumns =
    "SELECT r.lid, r.user_id, u.name, r.gid, COALESCE(g.gname, ''), r.title, r.stream, "
    "r.owner_addr, r.state, r.end_reason, r.created, r.started, r.ended "
    "FROM rooms r JOIN users u ON u.id = r.user_id LEFT JOIN games g ON g.gid = r.gid ";

SqliteStore::Room ReadRoom(sqlite3_stmt* stmt)
{
    SqliteStore::Room room;
    room.lid = sqlite3_column_int64(stmt, 0);
    room.userId = sqlite3_column_int64(stmt, 1);
    room.userName = Column(stmt, 2);
    room.gid = Column(stmt, 3);
    room.gameName = Column(stmt, 4);
    room.title = Column(stmt, 5);
    room.stream = Column(stmt, 6);
    room.ownerAddr = Column(stmt, 7);
    room.state = StateFrom(Column(stmt, 8));
    room.endReason = Column(stmt, 9);
    room.created = sqlite3_column_int64(stmt, 10);
    room.started = sqlite3_column_int64(stmt, 11);
    room.ended = sqlite3_column_int64(stmt, 12);
    return room;
}

// A row of "SELECT id, name, pass, created" from users.
SqliteStore::User ReadUser(sqlite3_stmt* stmt)
{
    return SqliteStore::User{sqlite3_column_int64(stmt, 0), Column(stmt, 1), Column(stmt, 2),
                              sqlite3_column_int64(stmt, 3)};
}

// A row of "SELECT gid, gname" from games.
SqliteStore::Game ReadGame(sqlite3_stmt* stmt)
{
    return SqliteStore::Game{Column(stmt, 0), Column(stmt, 1)};
}

}  // namespace

void SqliteStore::DbClose::operator()(sqlite3* db) const
{
    sqlite3_close(db);
}

void SqliteStore::StmtFinalize::operator()(sqlite3_stmt* stmt) const
{
    sqlite3_finalize(stmt);
}

SqliteStore::SqliteStore(const std::string& path)
{
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    db_.reset(raw);
    if (rc != SQLITE_OK) {
        throw std::runtime_error("cannot open database " + path + ": " +
                                 (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
    }
    sqlite3_busy_timeout(db_.get(), 5000);
    Exec("PRAGMA journal_mode=WAL");
    Exec("PRAGMA synchronous=NORMAL");
    Exec("PRAGMA foreign_keys=ON");
    Upgrade();
}

SqliteStore::~SqliteStore() = default;

void SqliteStore::Exec(const char* sql)
{
    char* error = nullptr;
    if (sqlite3_exec(db_.get(), sql, nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error("database: " + message);
    }
}

SqliteStore::Statement SqliteStore::Prepare(const char* sql)
{
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db_.get(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
        throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db_.get()));
    }
    return Statement(stmt);
}

namespace {

// Runs a statement that returns no rows; throws on failure.
void Run(sqlite3* db, sqlite3_stmt* stmt)
{
    const int rc = sqlite3_step(stmt);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) {
        throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db));
    }
}

bool NextRow(sqlite3* db, sqlite3_stmt* stmt)
{
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db));
}

}  // namespace

void SqliteStore::InTransaction(const std::function<void()>& work)
{
    Exec("BEGIN IMMEDIATE");
    try {
        work();
        Exec("COMMIT");
    } catch (...) {
        Exec("ROLLBACK");
        throw;
    }
}

void SqliteStore::Upgrade()
{
    // In one transaction: instances started together upgrade the file once, and an upgrade cut
    // short leaves the file as it was.
    InTransaction([this] {
        int version = 0;
        {
            auto stmt = Prepare("PRAGMA user_version");
            if (NextRow(db_.get(), stmt.get())) version = sqlite3_column_int(stmt.get(), 0);
        }
        if (version > kSchemaVersion) {
            throw std::runtime_error("the database was written by a newer strimo-service (tables of version " +
                                     std::to_string(version) + ", this one knows up to " +
                                     std::to_string(kSchemaVersion) + "); it is left as it is");
        }
        if (version < kSchemaVersion) {
            // Files from before the versions (0) may be at any step: every step here can be
            // taken twice.
            Exec(kSchema);
            AddSkeletons();
            Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
        }
        // An earlier version of the service, which knows no versions, may have run on the file
        // since and added members without their skeletons.
        FillSkeletons();
    });
}

void SqliteStore::AddSkeletons()
{
    bool hasSkeleton = false;
    {
        auto columns = Prepare("PRAGMA table_info(users)");
        while (NextRow(db_.get(), columns.get())) hasSkeleton |= Column(columns.get(), 1) == "skeleton";
    }
    // Not unique: files from before the look-alike check may hold names that look alike, and
    // they stay as they are.
    if (!hasSkeleton) Exec("ALTER TABLE users ADD COLUMN skeleton TEXT");
    Exec("CREATE INDEX IF NOT EXISTS users_by_skeleton ON users(skeleton)");
}

void SqliteStore::FillSkeletons()
{
    std::vector<std::pair<int64_t, std::string>> missing;
    {
        auto stmt = Prepare("SELECT id, name FROM users WHERE skeleton IS NULL");
        while (NextRow(db_.get(), stmt.get())) missing.emplace_back(sqlite3_column_int64(stmt.get(), 0), Column(stmt.get(), 1));
    }
    if (missing.empty()) return;
    std::vector<std::string> names;
    for (const auto& item : missing) names.push_back(item.second);
    const auto skeletons = TextRules::NameSkeletons(names);
    for (size_t i = 0; i < missing.size(); ++i) {
        auto stmt = Prepare("UPDATE users SET skeleton = ? WHERE id = ? AND skeleton IS NULL");
        Bind(stmt.get(), 1, skeletons[i]);
        Bind(stmt.get(), 2, missing[i].first);
        Run(db_.get(), stmt.get());
    }
}

bool SqliteStore::SkeletonTaken(const std::string& skeleton, const std::string& except)
{
    auto stmt = Prepare("SELECT 1 FROM users WHERE skeleton = ? AND name <> ? LIMIT 1");
    Bind(stmt.get(), 1, skeleton);
    Bind(stmt.get(), 2, except);
    return NextRow(db_.get(), stmt.get());
}

bool SqliteStore::LooksLikeAMember(const std::string& name)
{
    const std::string skeleton = TextRules::NameSkeleton(name);
    std::lock_guard lock(mutex_);
    return SkeletonTaken(skeleton, name);
}

SqliteStore::AddUserResult SqliteStore::AddUser(const std::string& name,
                                                  const std::string& passwordHash)
{
    const std::string skeleton = TextRules::NameSkeleton(name);
    std::lock_guard lock(mutex_);
    // The look and the insert in one transaction: two look-alike names registered at once (or
    // by the add-user command beside the running service) cannot both get in.
    Exec("BEGIN IMMEDIATE");
    try {
        auto stmt = Prepare("INSERT INTO users(name, pass, created, skeleton) "
                            "SELECT ?, ?, ?, ? WHERE NOT EXISTS (SELECT 1 FROM users WHERE skeleton = ? AND name <> ?)");
        Bind(stmt.get(), 1, name);
        Bind(stmt.get(), 2, passwordHash);
        Bind(stmt.get(), 3, Now());
        Bind(stmt.get(), 4, skeleton);
        Bind(stmt.get(), 5, skeleton);
        Bind(stmt.get(), 6, name);
        const int rc = sqlite3_step(stmt.get());
        AddUserResult result = AddUserResult::Added;
        if (rc == SQLITE_DONE && sqlite3_changes(db_.get()) == 0) {
            result = AddUserResult::LooksLikeAnother;
        } else if (rc != SQLITE_DONE) {
            if (sqlite3_extended_errcode(db_.get()) != SQLITE_CONSTRAINT_UNIQUE) {
                throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db_.get()));
            }
            result = AddUserResult::Exists;
        }
        stmt.reset();
        Exec("COMMIT");
        return result;
    } catch (...) {
        Exec("ROLLBACK");
        throw;
    }
}

bool SqliteStore::SetPasswordHash(const std::string& name, const std::string& passwordHash)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("UPDATE users SET pass = ? WHERE name = ?");
    Bind(stmt.get(), 1, passwordHash);
    Bind(stmt.get(), 2, name);
    Run(db_.get(), stmt.get());
    if (sqlite3_changes(db_.get()) != 1) return false;
    // A new password ends every session opened with the old one.
    auto drop = Prepare("DELETE FROM sessions WHERE user_id = (SELECT id FROM users WHERE name = ?)");
    Bind(drop.get(), 1, name);
    Run(db_.get(), drop.get());
    return true;
}

std::optional<SqliteStore::User> SqliteStore::FindUser(const std::string& name)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("SELECT id, name, pass, created FROM users WHERE name = ?");
    Bind(stmt.get(), 1, name);
    if (!NextRow(db_.get(), stmt.get())) return std::nullopt;
    return ReadUser(stmt.get());
}

void SqliteStore::CreateSession(int64_t userId, const std::string& tokenHash)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("INSERT INTO sessions(token_hash, user_id, created) VALUES(?, ?, ?)");
    Bind(stmt.get(), 1, tokenHash);
    Bind(stmt.get(), 2, userId);
    Bind(stmt.get(), 3, Now());
    Run(db_.get(), stmt.get());
}

void SqliteStore::EndSession(const std::string& tokenHash)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("DELETE FROM sessions WHERE token_hash = ?");
    Bind(stmt.get(), 1, tokenHash);
    Run(db_.get(), stmt.get());
}

int SqliteStore::PurgeExpiredSessions()
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("DELETE FROM sessions WHERE created < ?");
    Bind(stmt.get(), 1, Now() - int64_t{kSessionDays} * 86400);
    Run(db_.get(), stmt.get());
    return sqlite3_changes(db_.get());
}

std::optional<SqliteStore::User> SqliteStore::SessionUser(const std::string& tokenHash)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare(
        "SELECT u.id, u.name, u.pass, u.created FROM sessions s JOIN users u ON u.id = s.user_id "
        "WHERE s.token_hash = ? AND s.created >= ?");
    Bind(stmt.get(), 1, tokenHash);
    Bind(stmt.get(), 2, Now() - int64_t{kSessionDays} * 86400);
    if (!NextRow(db_.get(), stmt.get())) return std::nullopt;
    return ReadUser(stmt.get());
}

void SqliteStore::SeedGames(const std::vector<Game>& games)
{
    std::lock_guard lock(mutex_);
    // The look and the fill in one transaction: instances started together fill the list once.
    InTransaction([&] {
        auto count = Prepare("SELECT COUNT(*) FROM games");
        NextRow(db_.get(), count.get());
        if (sqlite3_column_int64(count.get(), 0) > 0) return;
        int order = 0;
        for (const auto& game : games) {
            auto stmt = Prepare("INSERT INTO games(gid, gname, ord) VALUES(?, ?, ?)");
            Bind(stmt.get(), 1, game.gid);
            Bind(stmt.get(), 2, game.gname);
            Bind(stmt.get(), 3, static_cast<int64_t>(order++));
            Run(db_.get(), stmt.get());
        }
    });
}

std::vector<SqliteStore::Game> SqliteStore::Games()
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("SELECT gid, gname FROM games ORDER BY ord, gid");
    std::vector<Game> games;
    while (NextRow(db_.get(), stmt.get())) games.push_back(ReadGame(stmt.get()));
    return games;
}

std::optional<SqliteStore::Game> SqliteStore::FindGame(const std::string& gid)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("SELECT gid, gname FROM games WHERE gid = ?");
    Bind(stmt.get(), 1, gid);
    if (!NextRow(db_.get(), stmt.get())) return std::nullopt;
    return ReadGame(stmt.get());
}

std::optional<SqliteStore::Game> SqliteStore::FindGameByName(const std::string& gname)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("SELECT gid, gname FROM games WHERE gname = ?");
    Bind(stmt.get(), 1, gname);
    if (!NextRow(db_.get(), stmt.get())) return std::nullopt;
    return ReadGame(stmt.get());
}

int64_t SqliteStore::CreateRoom(int64_t userId, const std::string& gid, const std::string& title,
                                 const std::string& stream, const std::string& ownerAddr)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare(
        "INSERT INTO rooms(user_id, gid, title, stream, owner_addr, state, created) "
        "VALUES(?, ?, ?, ?, ?, 'issued', ?)");
    Bind(stmt.get(), 1, userId);
    Bind(stmt.get(), 2, gid);
    Bind(stmt.get(), 3, title);
    Bind(stmt.get(), 4, stream);
    Bind(stmt.get(), 5, ownerAddr);
    Bind(stmt.get(), 6, Now());
    Run(db_.get(), stmt.get());
    return sqlite3_last_insert_rowid(db_.get());
}

int SqliteStore::RoomsCreatedSince(int64_t userId, int seconds)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("SELECT COUNT(*) FROM rooms WHERE user_id = ? AND created >= ?");
    Bind(stmt.get(), 1, userId);
    Bind(stmt.get(), 2, Now() - seconds);
    return NextRow(db_.get(), stmt.get()) ? sqlite3_column_int(stmt.get(), 0) : 0;
}

int SqliteStore::LiveRoomsOfUser(int64_t userId)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("SELECT COUNT(*) FROM rooms WHERE user_id = ? AND state = 'live'");
    Bind(stmt.get(), 1, userId);
    return NextRow(db_.get(), stmt.get()) ? sqlite3_column_int(stmt.get(), 0) : 0;
}

std::vector<SqliteStore::Room> SqliteStore::QueryRooms(const char* where, int64_t param, int limit)
{
    auto stmt = Prepare((std::string(kRoomColumns) + where).c_str());
    if (param != INT64_MIN) Bind(stmt.get(), 1, param);
    std::vector<Room> rooms;
    while (static_cast<int>(rooms.size()) < limit && NextRow(db_.get(), stmt.get())) {
        rooms.push_back(ReadRoom(stmt.get()));
    }
    return rooms;
}

std::optional<SqliteStore::Room> SqliteStore::FindRoom(int64_t lid)
{
    std::lock_guard lock(mutex_);
    auto rooms = QueryRooms("WHERE r.lid = ?", lid, 1);
    if (rooms.empty()) return std::nullopt;
    return rooms.front();
}

std::optional<SqliteStore::Room> SqliteStore::FindRoomByStream(const std::string& stream)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare((std::string(kRoomColumns) + "WHERE r.stream = ?").c_str());
    Bind(stmt.get(), 1, stream);
    if (!NextRow(db_.get(), stmt.get())) return std::nullopt;
    return ReadRoom(stmt.get());
}

std::vector<SqliteStore::Room> SqliteStore::LiveRooms()
{
    std::lock_guard lock(mutex_);
    return QueryRooms("WHERE r.state = 'live' ORDER BY r.started DESC", INT64_MIN, 200);
}

std::vector<SqliteStore::Room> SqliteStore::RoomsOfUser(int64_t userId, int limit)
{
    std::lock_guard lock(mutex_);
    return QueryRooms("WHERE r.user_id = ? ORDER BY r.lid DESC", userId, limit);
}

SqliteStore::PublishResult SqliteStore::StartPublish(const std::string& stream, int graceSeconds)
{
    std::lock_guard lock(mutex_);
    const int64_t now = Now();
    auto stmt = Prepare(
        "UPDATE rooms SET state = 'live', end_reason = '', ended = 0, "
        "  started = CASE WHEN started = 0 THEN ? ELSE started END "
        "WHERE stream = ? AND (state = 'issued' OR "
        "  (state = 'ended' AND end_reason = 'publish_done' AND ended >= ?))");
    Bind(stmt.get(), 1, now);
    Bind(stmt.get(), 2, stream);
    Bind(stmt.get(), 3, now - graceSeconds);
    Run(db_.get(), stmt.get());
    if (sqlite3_changes(db_.get()) == 1) return PublishResult::Accepted;
    auto known = Prepare("SELECT 1 FROM rooms WHERE stream = ?");
    Bind(known.get(), 1, stream);
    return NextRow(db_.get(), known.get()) ? PublishResult::Refused : PublishResult::Unknown;
}

void SqliteStore::PublishDone(const std::string& stream)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare(
        "UPDATE rooms SET state = 'ended', end_reason = 'publish_done', ended = ? "
        "WHERE stream = ? AND state = 'live'");
    Bind(stmt.get(), 1, Now());
    Bind(stmt.get(), 2, stream);
    Run(db_.get(), stmt.get());
}

int SqliteStore::EndAllLive()
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare(
        "UPDATE rooms SET state = 'ended', end_reason = 'publish_done', ended = ? WHERE state = 'live'");
    Bind(stmt.get(), 1, Now());
    Run(db_.get(), stmt.get());
    return sqlite3_changes(db_.get());
}

SqliteStore::EndResult SqliteStore::EndByNotice(int64_t lid, const std::string& fromAddr)
{
    std::lock_guard lock(mutex_);
    auto find = Prepare("SELECT owner_addr, state, end_reason FROM rooms WHERE lid = ?");
    Bind(find.get(), 1, lid);
    if (!NextRow(db_.get(), find.get())) return EndResult::NotFound;
    if (Column(find.get(), 0) != fromAddr) return EndResult::NotOwner;
    if (Column(find.get(), 1) == "ended" && Column(find.get(), 2) == "notice") {
        return EndResult::AlreadyEnded;
    }
    // An end notice also closes the reconnection window a dropped publisher had left open.
    auto stmt = Prepare(
        "UPDATE rooms SET state = 'ended', end_reason = 'notice', "
        "  ended = CASE WHEN state = 'ended' THEN ended ELSE ? END WHERE lid = ?");
    Bind(stmt.get(), 1, Now());
    Bind(stmt.get(), 2, lid);
    Run(db_.get(), stmt.get());
    return EndResult::Ended;
}

void SqliteStore::AddPost(int64_t userId, const std::string& text)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("INSERT INTO posts(user_id, text, created) VALUES(?, ?, ?)");
    Bind(stmt.get(), 1, userId);
    Bind(stmt.get(), 2, text);
    Bind(stmt.get(), 3, Now());
    Run(db_.get(), stmt.get());
}

std::vector<SqliteStore::Post> SqliteStore::Posts(int limit)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare(
        "SELECT p.id, u.name, p.text, p.created FROM posts p JOIN users u ON u.id = p.user_id "
        "ORDER BY p.id DESC LIMIT ?");
    Bind(stmt.get(), 1, static_cast<int64_t>(limit));
    std::vector<Post> posts;
    while (NextRow(db_.get(), stmt.get())) {
        posts.push_back({sqlite3_column_int64(stmt.get(), 0), Column(stmt.get(), 1),
                         Column(stmt.get(), 2), sqlite3_column_int64(stmt.get(), 3)});
    }
    return posts;
}

namespace {

SqliteStore::Tally ReadTally(sqlite3_stmt* stmt, int first)
{
    return {sqlite3_column_int64(stmt, first), sqlite3_column_int64(stmt, first + 1),
            sqlite3_column_int64(stmt, first + 2), sqlite3_column_int64(stmt, first + 3)};
}

}  // namespace

std::optional<SqliteStore::Tally> SqliteStore::FindTally(const std::string& key)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("SELECT count, locked_until, last, keep_until FROM tallies WHERE key = ?");
    Bind(stmt.get(), 1, key);
    if (!NextRow(db_.get(), stmt.get())) return std::nullopt;
    return ReadTally(stmt.get(), 0);
}

SqliteStore::Tally SqliteStore::ChangeTally(const std::string& key, const std::function<void(Tally&)>& change)
{
    std::lock_guard lock(mutex_);
    Tally tally;
    InTransaction([&] {
        {
            auto find = Prepare("SELECT count, locked_until, last, keep_until FROM tallies WHERE key = ?");
            Bind(find.get(), 1, key);
            if (NextRow(db_.get(), find.get())) tally = ReadTally(find.get(), 0);
        }
        change(tally);
        auto stmt = Prepare("INSERT OR REPLACE INTO tallies(key, count, locked_until, last, keep_until) "
                            "VALUES(?, ?, ?, ?, ?)");
        Bind(stmt.get(), 1, key);
        Bind(stmt.get(), 2, tally.count);
        Bind(stmt.get(), 3, tally.lockedUntil);
        Bind(stmt.get(), 4, tally.last);
        Bind(stmt.get(), 5, tally.keepUntil);
        Run(db_.get(), stmt.get());
    });
    return tally;
}

void SqliteStore::ForgetTally(const std::string& key)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("DELETE FROM tallies WHERE key = ?");
    Bind(stmt.get(), 1, key);
    Run(db_.get(), stmt.get());
}

int SqliteStore::ForgetTalliesPast(int64_t now)
{
    std::lock_guard lock(mutex_);
    auto stmt = Prepare("DELETE FROM tallies WHERE keep_until < ?");
    Bind(stmt.get(), 1, now);
    Run(db_.get(), stmt.get());
    return sqlite3_changes(db_.get());
}

SqliteStore::Contents SqliteStore::Read()
{
    std::lock_guard lock(mutex_);
    Contents contents;
    // One read transaction: a service still running beside the copy cannot make it half old,
    // half new.
    Exec("BEGIN");
    try {
        auto users = Prepare("SELECT id, name, pass, created, COALESCE(skeleton, '') FROM users ORDER BY id");
        while (NextRow(db_.get(), users.get())) contents.users.push_back({ReadUser(users.get()), Column(users.get(), 4)});
        auto sessions = Prepare("SELECT token_hash, user_id, created FROM sessions ORDER BY created");
        while (NextRow(db_.get(), sessions.get())) {
            contents.sessions.push_back({Column(sessions.get(), 0), sqlite3_column_int64(sessions.get(), 1),
                                         sqlite3_column_int64(sessions.get(), 2)});
        }
        auto games = Prepare("SELECT gid, gname FROM games ORDER BY ord, gid");
        while (NextRow(db_.get(), games.get())) contents.games.push_back(ReadGame(games.get()));
        contents.rooms = QueryRooms("ORDER BY r.lid", INT64_MIN, INT32_MAX);
        auto posts = Prepare("SELECT id, user_id, text, created FROM posts ORDER BY id");
        while (NextRow(db_.get(), posts.get())) {
            contents.posts.push_back({sqlite3_column_int64(posts.get(), 0), sqlite3_column_int64(posts.get(), 1),
                                      Column(posts.get(), 2), sqlite3_column_int64(posts.get(), 3)});
        }
        auto tallies = Prepare("SELECT key, count, locked_until, last, keep_until FROM tallies ORDER BY key");
        while (NextRow(db_.get(), tallies.get())) {
            contents.tallies.emplace_back(Column(tallies.get(), 0), ReadTally(tallies.get(), 1));
        }
        users.reset();
        sessions.reset();
        games.reset();
        posts.reset();
        tallies.reset();
        Exec("COMMIT");
    } catch (...) {
        Exec("ROLLBACK");
        throw;
    }
    return contents;
}

void SqliteStore::Fill(const Contents& contents)
{
    std::lock_guard lock(mutex_);
    InTransaction([&] {
        auto count = Prepare("SELECT (SELECT COUNT(*) FROM users) + (SELECT COUNT(*) FROM rooms)");
        NextRow(db_.get(), count.get());
        if (sqlite3_column_int64(count.get(), 0) > 0) {
            throw std::runtime_error("the database to fill holds members or rooms already");
        }
        Exec("DELETE FROM games");
        for (const auto& row : contents.users) {
            auto stmt = Prepare("INSERT INTO users(id, name, pass, created, skeleton) VALUES(?, ?, ?, ?, ?)");
            Bind(stmt.get(), 1, row.user.id);
            Bind(stmt.get(), 2, row.user.name);
            Bind(stmt.get(), 3, row.user.passwordHash);
            Bind(stmt.get(), 4, row.user.created);
            Bind(stmt.get(), 5, row.skeleton.empty() ? TextRules::NameSkeleton(row.user.name) : row.skeleton);
            Run(db_.get(), stmt.get());
        }
        for (const auto& row : contents.sessions) {
            auto stmt = Prepare("INSERT INTO sessions(token_hash, user_id, created) VALUES(?, ?, ?)");
            Bind(stmt.get(), 1, row.tokenHash);
            Bind(stmt.get(), 2, row.userId);
            Bind(stmt.get(), 3, row.created);
            Run(db_.get(), stmt.get());
        }
        int64_t order = 0;
        for (const auto& game : contents.games) {
            auto stmt = Prepare("INSERT INTO games(gid, gname, ord) VALUES(?, ?, ?)");
            Bind(stmt.get(), 1, game.gid);
            Bind(stmt.get(), 2, game.gname);
            Bind(stmt.get(), 3, order++);
            Run(db_.get(), stmt.get());
        }
        for (const auto& room : contents.rooms) {
            auto stmt = Prepare(
                "INSERT INTO rooms(lid, user_id, gid, title, stream, owner_addr, state, end_reason, created, "
                "started, ended) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
            Bind(stmt.get(), 1, room.lid);
            Bind(stmt.get(), 2, room.userId);
            Bind(stmt.get(), 3, room.gid);
            Bind(stmt.get(), 4, room.title);
            Bind(stmt.get(), 5, room.stream);
            Bind(stmt.get(), 6, room.ownerAddr);
            Bind(stmt.get(), 7, std::string(StateName(room.state)));
            Bind(stmt.get(), 8, room.endReason);
            Bind(stmt.get(), 9, room.created);
            Bind(stmt.get(), 10, room.started);
            Bind(stmt.get(), 11, room.ended);
            Run(db_.get(), stmt.get());
        }
        for (const auto& post : contents.posts) {
            auto stmt = Prepare("INSERT INTO posts(id, user_id, text, created) VALUES(?, ?, ?, ?)");
            Bind(stmt.get(), 1, post.id);
            Bind(stmt.get(), 2, post.userId);
            Bind(stmt.get(), 3, post.text);
            Bind(stmt.get(), 4, post.created);
            Run(db_.get(), stmt.get());
        }
        for (const auto& [key, tally] : contents.tallies) {
            auto stmt = Prepare("INSERT OR REPLACE INTO tallies(key, count, locked_until, last, keep_until) "
                                "VALUES(?, ?, ?, ?, ?)");
            Bind(stmt.get(), 1, key);
            Bind(stmt.get(), 2, tally.count);
            Bind(stmt.get(), 3, tally.lockedUntil);
            Bind(stmt.get(), 4, tally.last);
            Bind(stmt.get(), 5, tally.keepUntil);
            Run(db_.get(), stmt.get());
        }
    });
}
