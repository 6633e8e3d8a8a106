#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The service's database: accounts, login sessions, the game list, live rooms, forum posts and
// the log-in throttle's counts. Everything several instances of the service must agree on lives
// here, so any instance answers any request. Every call is complete in itself (one statement or
// one transaction), so a crash or a kill never leaves half a change behind, and bound parameters
// keep user text out of the SQL. Two stores keep it: SqliteStore, one file, the default; and
// PostgresStore, for several instances on several machines.
class ServiceStore {
public:
    struct User {
        int64_t id = 0;
        std::string name;
        std::string passwordHash;
        int64_t created = 0;
    };
    struct Game {
        std::string gid;
        std::string gname;
    };
    enum class RoomState { Issued, Live, Ended };
    struct Room {
        int64_t lid = 0;
        int64_t userId = 0;
        std::string userName;
        std::string gid;
        std::string gameName;
        std::string title;
        std::string stream;
        std::string ownerAddr;
        RoomState state = RoomState::Issued;
        std::string endReason;  // "publish_done" or "notice" once ended
        int64_t created = 0, started = 0, ended = 0;
    };
    struct Post {
        int64_t id = 0;
        std::string userName;
        std::string text;
        int64_t created = 0;
    };
    // A count kept for a key by the throttles (times in milliseconds since the epoch, shared by
    // every machine). Kept until `keepUntil`, then forgotten.
    struct Tally {
        int64_t count = 0;
        int64_t lockedUntil = 0;
        int64_t last = 0;
        int64_t keepUntil = 0;
    };

    // Every row as stored, for moving a service from one store to another.
    struct Contents {
        struct UserRow {
            User user;
            std::string skeleton;
        };
        struct SessionRow {
            std::string tokenHash;
            int64_t userId = 0;
            int64_t created = 0;
        };
        struct PostRow {
            int64_t id = 0, userId = 0;
            std::string text;
            int64_t created = 0;
        };
        std::vector<UserRow> users;
        std::vector<SessionRow> sessions;
        std::vector<Game> games;  // in their order
        std::vector<Room> rooms;  // userName and gameName are not stored
        std::vector<PostRow> posts;
        std::vector<std::pair<std::string, Tally>> tallies;
    };

    enum class AddUserResult { Added, Exists, LooksLikeAnother };
    enum class PublishResult { Accepted, Unknown, Refused };
    enum class EndResult { Ended, NotFound, NotOwner, AlreadyEnded };

    // The version of the tables this program writes. A store is brought up to it when opened;
    // one written by a newer program is refused rather than changed.
    static constexpr int kSchemaVersion = 3;

    // `database` is a conninfo URL (postgresql://…) for PostgreSQL, else a SQLite file's path.
    // Throws std::runtime_error when it cannot be opened.
    static std::unique_ptr<ServiceStore> Open(const std::string& database);
    static bool IsPostgresUrl(const std::string& database);

    virtual ~ServiceStore() = default;

    // Refuses a name that is taken, or that looks like a member's (the same skeleton,
    // TextRules::NameSkeleton): one lookup in the index of the members' skeletons.
    virtual AddUserResult AddUser(const std::string& name, const std::string& passwordHash) = 0;
    // True when another member's name looks like `name` (not `name` itself).
    virtual bool LooksLikeAMember(const std::string& name) = 0;
    virtual bool SetPasswordHash(const std::string& name, const std::string& passwordHash) = 0;
    virtual std::optional<User> FindUser(const std::string& name) = 0;

    // Sessions are kept by the SHA-256 of their token only, and end `kSessionDays` after login.
    static constexpr int kSessionDays = 30;
    virtual void CreateSession(int64_t userId, const std::string& tokenHash) = 0;
    virtual std::optional<User> SessionUser(const std::string& tokenHash) = 0;
    virtual void EndSession(const std::string& tokenHash) = 0;
    // Deletes the sessions past their end; returns how many.
    virtual int PurgeExpiredSessions() = 0;

    // Fills the game list when it is empty (first start); later edits by the operator stay.
    virtual void SeedGames(const std::vector<Game>& games) = 0;
    virtual std::vector<Game> Games() = 0;
    virtual std::optional<Game> FindGame(const std::string& gid) = 0;
    virtual std::optional<Game> FindGameByName(const std::string& gname) = 0;

    virtual int64_t CreateRoom(int64_t userId, const std::string& gid, const std::string& title,
                               const std::string& stream, const std::string& ownerAddr) = 0;
    virtual std::optional<Room> FindRoom(int64_t lid) = 0;
    virtual std::optional<Room> FindRoomByStream(const std::string& stream) = 0;
    virtual std::vector<Room> LiveRooms() = 0;
    virtual std::vector<Room> RoomsOfUser(int64_t userId, int limit) = 0;
    // Rooms the member asked for in the last `seconds`, and those of theirs that are live.
    virtual int RoomsCreatedSince(int64_t userId, int seconds) = 0;
    virtual int LiveRoomsOfUser(int64_t userId) = 0;

    // A publish is accepted for an issued room, or to resume a room whose publisher dropped
    // less than `graceSeconds` ago and that no end notice has closed since (the broadcaster
    // reconnects once with the same name). Anything else — an unknown name, a room that is
    // being published, a room ended by notice or long ago — is refused.
    virtual PublishResult StartPublish(const std::string& stream, int graceSeconds) = 0;
    virtual void PublishDone(const std::string& stream) = 0;

    // Marks every live room as dropped by its publisher, as on_publish_done would have: for a
    // streaming server that is (re)started and so has no publisher. A broadcaster that
    // reconnects within the grace time still gets its room back. Returns the count.
    virtual int EndAllLive() = 0;

    // Ends room `lid` when the notice comes from the address that asked for the room.
    virtual EndResult EndByNotice(int64_t lid, const std::string& fromAddr) = 0;

    virtual void AddPost(int64_t userId, const std::string& text) = 0;
    virtual std::vector<Post> Posts(int limit) = 0;

    virtual std::optional<Tally> FindTally(const std::string& key) = 0;
    // Reads the key's tally (a zero one when there is none), lets `change` alter it and writes
    // it back, in one transaction: counts made by several instances at once all count.
    // `change` must not call the store.
    virtual Tally ChangeTally(const std::string& key, const std::function<void(Tally&)>& change) = 0;
    virtual void ForgetTally(const std::string& key) = 0;
    // Forgets the tallies kept until before `now`; returns how many.
    virtual int ForgetTalliesPast(int64_t now) = 0;

    virtual Contents Read() = 0;
    // Fills an empty store with `contents` in one transaction, keeping ids and room numbers;
    // later rooms, members and posts are numbered after them. Throws when the store holds
    // members or rooms already.
    virtual void Fill(const Contents& contents) = 0;
};
