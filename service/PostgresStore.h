#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ServiceStore.h"

struct pg_conn;

// The store in a PostgreSQL database, which instances on several machines share. Each call
// takes a connection of a small pool of its own, so requests of one instance run side by side;
// what must not interleave across instances (a count, a registration beside a look-alike one)
// runs in a transaction that locks what it reads. A connection the server dropped is not given
// back to the pool: the next call opens a new one, so a database restart costs the requests
// that were in it, not the instance.
class PostgresStore final : public ServiceStore {
public:
    // `conninfo` as libpq takes it ("postgresql://user@host/db", or "host=/run/pg dbname=…").
    // Connects once, creates or upgrades the tables; throws std::runtime_error on failure.
    explicit PostgresStore(const std::string& conninfo, int connections = 8);
    ~PostgresStore() override;
    PostgresStore(const PostgresStore&) = delete;
    PostgresStore& operator=(const PostgresStore&) = delete;

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
    struct ConnectionClose {
        void operator()(pg_conn* conn) const;
    };
    using Handle = std::unique_ptr<pg_conn, ConnectionClose>;

    // A connection of the pool, for one call: given back when the call ends, unless the server
    // dropped it.
    class Lease {
    public:
        Lease(PostgresStore& store, Handle handle) : store_(store), handle_(std::move(handle)) {}
        ~Lease();
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        pg_conn* get() const { return handle_.get(); }

    private:
        PostgresStore& store_;
        Handle handle_;
    };

    Handle Connect() const;
    Lease Take();
    void Give(Handle handle);
    // Creates the tables, or brings those of an earlier version up to date.
    void Upgrade();

    const std::string conninfo_;
    const int connections_;
    std::mutex mutex_;
    std::condition_variable idleChanged_;
    std::vector<Handle> idle_;
    int open_ = 0;  // connections out of the pool and in it
};
