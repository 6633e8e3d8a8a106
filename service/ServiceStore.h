#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// The service's database: accounts, login sessions, the game list, live rooms and forum posts,
// in one SQLite file. Every call is a complete statement under one lock, so a crash or a kill
// never leaves half a change behind, and bound parameters keep user text out of the SQL.
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

    enum class AddUserResult { Added, Exists, LooksLikeAnother };
    enum class PublishResult { Accepted, Unknown, Refused };
    enum class EndResult { Ended, NotFound, NotOwner, AlreadyEnded };

    // Opens (creating when missing) the database file. Throws std::runtime_error on failure.
    explicit ServiceStore(const std::string& path);
    ~ServiceStore();
    ServiceStore(const ServiceStore&) = delete;
    ServiceStore& operator=(const ServiceStore&) = delete;

    // Refuses a name that is taken, or that looks like a member's (the same skeleton,
    // TextRules::NameSkeleton): one lookup in the index of the members' skeletons.
    AddUserResult AddUser(const std::string& name, const std::string& passwordHash);
    // True when another member's name looks like `name` (not `name` itself).
    bool LooksLikeAMember(const std::string& name);
    bool SetPasswordHash(const std::string& name, const std::string& passwordHash);
    std::optional<User> FindUser(const std::string& name);

    // Sessions are kept by the SHA-256 of their token only, and end `kSessionDays` after login.
    static constexpr int kSessionDays = 30;
    void CreateSession(int64_t userId, const std::string& tokenHash);
    std::optional<User> SessionUser(const std::string& tokenHash);
    void EndSession(const std::string& tokenHash);
    // Deletes the sessions past their end; returns how many.
    int PurgeExpiredSessions();

    // Fills the game list when it is empty (first start); later edits by the operator stay.
    void SeedGames(const std::vector<Game>& games);
    std::vector<Game> Games();
    std::optional<Game> FindGame(const std::string& gid);
    std::optional<Game> FindGameByName(const std::string& gname);

    int64_t CreateRoom(int64_t userId, const std::string& gid, const std::string& title,
                       const std::string& stream, const std::string& ownerAddr);
    std::optional<Room> FindRoom(int64_t lid);
    std::optional<Room> FindRoomByStream(const std::string& stream);
    std::vector<Room> LiveRooms();
    std::vector<Room> RoomsOfUser(int64_t userId, int limit);
    // Rooms the member asked for in the last `seconds`, and those of theirs that are live.
    int RoomsCreatedSince(int64_t userId, int seconds);
    int LiveRoomsOfUser(int64_t userId);

    // A publish is accepted for an issued room, or to resume a room whose publisher dropped
    // less than `graceSeconds` ago and that no end notice has closed since (the broadcaster
    // reconnects once with the same name). Anything else — an unknown name, a room that is
    // being published, a room ended by notice or long ago — is refused.
    PublishResult StartPublish(const std::string& stream, int graceSeconds);
    void PublishDone(const std::string& stream);

    // Marks every live room as dropped by its publisher, as on_publish_done would have: for a
    // streaming server that is (re)started and so has no publisher. A broadcaster that
    // reconnects within the grace time still gets its room back. Returns the count.
    int EndAllLive();

    // Ends room `lid` when the notice comes from the address that asked for the room.
    EndResult EndByNotice(int64_t lid, const std::string& fromAddr);

    void AddPost(int64_t userId, const std::string& text);
    std::vector<Post> Posts(int limit);

private:
    struct DbClose {
        void operator()(sqlite3* db) const;
    };
    struct StmtFinalize {
        void operator()(sqlite3_stmt* stmt) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StmtFinalize>;

    // Brings a file of an earlier version up to date: the members' skeletons, which files made
    // before the look-alike index lack, are added and filled.
    void Upgrade();
    bool SkeletonTaken(const std::string& skeleton, const std::string& except);
    Statement Prepare(const char* sql);
    void Exec(const char* sql);
    std::vector<Room> QueryRooms(const char* where, int64_t param, int limit);

    std::mutex mutex_;
    std::unique_ptr<sqlite3, DbClose> db_;
};
