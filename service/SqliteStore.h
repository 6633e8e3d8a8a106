#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "ServiceStore.h"

struct sqlite3;
struct sqlite3_stmt;

// The store in one SQLite file (write-ahead log, so instances on one machine may share it):
// the embedded default, which needs no server.
class SqliteStore final : public ServiceStore {
public:
    // Opens (creating when missing) the database file. Throws std::runtime_error on failure.
    explicit SqliteStore(const std::string& path);
    ~SqliteStore() override;
    SqliteStore(const SqliteStore&) = delete;
    SqliteStore& operator=(const SqliteStore&) = delete;

    AddUserResult AddUser(const std::string& name, const std::string& passwordHash) override;
    bool LooksLikeAMember(const std::string& name) override;
    bool SetPasswordHash(const std::string& name, const std::string& passwordHash) override;
    std::optional<User> FindUser(const std::string& name) override;
    void CreateSession(int64_t userId, const std::string& tokenHash) override;
    std::optional<User> SessionUser(const std::string& tokenHash) override;
    void EndSession(const std::string& tokenHash) override;
    int PurgeExpiredSessions() override;
    void SeedGames(const std::vector<Game>& games) override;
    std::vector<Game> Games() override;
    std::optional<Game> FindGame(const std::string& gid) override;
    std::optional<Game> FindGameByName(const std::string& gname) override;
    int64_t CreateRoom(int64_t userId, const std::string& gid, const std::string& title,
                       const std::string& stream, const std::string& ownerAddr) override;
    std::optional<Room> FindRoom(int64_t lid) override;
    std::optional<Room> FindRoomByStream(const std::string& stream) override;
    std::vector<Room> LiveRooms() override;
    std::vector<Room> RoomsOfUser(int64_t userId, int limit) override;
    int RoomsCreatedSince(int64_t userId, int seconds) override;
    int LiveRoomsOfUser(int64_t userId) override;
    PublishResult StartPublish(const std::string& stream, int graceSeconds) override;
    void PublishDone(const std::string& stream) override;
    int EndAllLive() override;
    EndResult EndByNotice(int64_t lid, const std::string& fromAddr) override;
    void AddPost(int64_t userId, const std::string& text) override;
    std::vector<Post> Posts(int limit) override;
    std::optional<Tally> FindTally(const std::string& key) override;
    Tally ChangeTally(const std::string& key, const std::function<void(Tally&)>& change) override;
    void ForgetTally(const std::string& key) override;
    int ForgetTalliesPast(int64_t now) override;
    Contents Read() override;
    void Fill(const Contents& contents) override;

private:
    struct DbClose {
        void operator()(sqlite3* db) const;
    };
    struct StmtFinalize {
        void operator()(sqlite3_stmt* stmt) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

    // Brings a file of an earlier version up to date, in steps by version.
    void Upgrade();
    // Files from before the look-alike index lack the members' skeletons.
    void AddSkeletons();
    // Members added by a version that wrote no skeletons get theirs.
    void FillSkeletons();
    bool SkeletonTaken(const std::string& skeleton, const std::string& except);
    Statement Prepare(const char* sql);
    void Exec(const char* sql);
    std::vector<Room> QueryRooms(const char* where, int64_t param, int limit);
    // Runs `work` between BEGIN IMMEDIATE and COMMIT, rolling back when it throws.
    void InTransaction(const std::function<void()>& work);

    std::mutex mutex_;
    std::unique_ptr<sqlite3, DbClose> db_;
};
