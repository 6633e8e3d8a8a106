// The reference service under load: an open-loop generator offers requests at a fixed rate,
// whatever the answers do, so queueing in the service shows in the latency instead of slowing
// the generator down. The mix is what broadcasters send: the game list, the stream request of a
// logged-in member, nginx's publish authorisation for the stream, the end notice of the room;
// on top come logins at a fixed rate (their password hashing is deliberately slow). Latency is
// counted from the moment a request was due, so a generator that falls behind still shows it.
// The rate steps up until there are errors or the 99th percentile passes the limit. Afterwards
// the database must hold every stream issued and every room ended.
// With --front, scripts/service.sh starts the service behind its nginx front, as it is deployed:
// requests go to nginx, each member's from a loopback address of its own (the front limits per
// address, as it would limit separate broadcasters), and the publish callbacks to the service's
// callback listener, as nginx-rtmp sends them (through the front's listener for them).
// --instances N starts N instances behind the front; --kill-after S kills one of them (SIGKILL)
// S seconds into the first rate, which service.sh's watcher starts again: the failed requests
// are counted, and afterwards every acknowledged write must be in the database and every
// member's session must still be valid. --restart-after S runs service.sh's rolling restart S
// seconds into the first rate instead, with the same counts afterwards. --database URL keeps the data in PostgreSQL (the
// service's `database` setting), checked through psql; without it, the SQLite file is read.
//   build/bench/service_load [--seconds 60] [--rates 100,200,...] [--logins 10] [--limit-ms 100] [--front]
//                            [--instances N] [--kill-after S | --restart-after S] [--database URL]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "LoopbackPorts.h"
#include "TempDir.h"
#include "WaitFor.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

enum Kind { kGames, kStream, kPublish, kEnd, kLogin, kKinds };
const char* const kKindNames[kKinds] = {"games", "stream", "publish", "end", "login"};
constexpr int kMembers = 20;
constexpr const char* kPassword = "load-test-password";
constexpr auto kRequestTimeout = std::chrono::seconds(10);


pid_t Spawn(const std::vector<std::string>& argv, int stdinFd = -1) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdinFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdinFd, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

bool AddMember(const std::string& service, const std::string& data, const std::string& database,
               const std::string& name) {
    int p[2];
    if (::pipe(p) != 0) return false;
    std::vector<std::string> argv = {service, "add-user", "--data", data};
    if (!database.empty()) argv.insert(argv.end(), {"--database", database});
    argv.push_back(name);
    const pid_t pid = Spawn(argv, p[0]);
    ::close(p[0]);
    const std::string line = std::string(kPassword) + "\n";
    [[maybe_unused]] const ssize_t n = ::write(p[1], line.data(), line.size());
    ::close(p[1]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}


std::string Between(const std::string& text, const std::string& before, const std::string& after) {
    const auto a = text.find(before);
    if (a == std::string::npos) return {};
    const auto b = text.find(after, a + before.size());
    return b == std::string::npos ? std::string() : text.substr(a + before.size(), b - a - before.size());
}

struct Request {
    Kind kind = kGames;
    Clock::time_point due;
    int fd = -1;
    std::string out;
    std::size_t sent = 0;
    std::string in;
    std::string stream;  // publish: the stream name
    std::string lid;     // end: the room
    int member = 0;      // whose request it is (their address, behind the front)
};

// A member's room on its way through the mix.
struct Room {
    std::string stream, lid;
    int member = 0;
};

struct Figures {
    std::vector<double> ms[kKinds];
    long errors[kKinds] = {};
    std::map<std::string, long> why;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const std::size_t i = std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())));
    return v[i];
}

// One HTTP/1.1 exchange per connection ("Connection: close"), as separate broadcasters make.
class Generator {
public:
    // `callbackPort` takes the publish callbacks; with `spread`, each member's requests come
    // from an address of their own.
    Generator(int port, int callbackPort, bool spread)
        : port_(port), callbackPort_(callbackPort), spread_(spread), epoll_(::epoll_create1(EPOLL_CLOEXEC)) {}
    ~Generator() {
        for (auto& [fd, r] : open_) ::close(fd);
        ::close(epoll_);
    }

    std::vector<std::string> sessions;          // cookie values of logged-in members
    std::deque<Room> issued;                    // not yet published
    std::deque<Room> published;                 // not yet ended
    std::set<std::string> allIssued;            // "lid stream"
    std::set<std::string> allEnded;             // lids

    // Offers `rate` mix requests and `logins` logins a second for `seconds`, then waits for
    // what is still under way. `fault`, when given, is called once `faultAfter` into the run.
    Figures Run(double rate, double logins, int seconds, std::function<void()> fault = {},
                std::chrono::seconds faultAfter = {}) {
        Figures f;
        const auto start = Clock::now() + std::chrono::milliseconds(20);
        const auto end = start + std::chrono::seconds(seconds);
        long mixSent = 0, loginsSent = 0;
        long turn = 0;
        epoll_event events[256];
        while (true) {
            const auto now = Clock::now();
            if (fault && now >= start + faultAfter) {
                fault();
                fault = {};
            }
            // Start everything that is due.
            for (;;) {
                const auto nextMix = start + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(static_cast<double>(mixSent) / rate));
                const auto nextLogin =
                    logins > 0 ? start + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(static_cast<double>(loginsSent) / logins))
                               : Clock::time_point::max();
                const auto next = std::min(nextMix, nextLogin);
                if (next > now || next >= end) break;
                if (nextLogin <= nextMix) {
                    Begin(f, kLogin, nextLogin);
                    ++loginsSent;
                } else {
                    Begin(f, static_cast<Kind>(turn++ % 4), nextMix);
                    ++mixSent;
                }
            }
            if (now >= end && open_.empty()) break;
            if (now >= end + kRequestTimeout + std::chrono::seconds(1)) break;
            // Requests past their time-out are errors.
            for (auto it = open_.begin(); it != open_.end();) {
                if (now - it->second.due > kRequestTimeout) {
                    Fail(f, it->second, "time-out");
                    ::close(it->first);
                    it = open_.erase(it);
                } else {
                    ++it;
                }
            }
            const int n = ::epoll_wait(epoll_, events, 256, 1);
            for (int i = 0; i < n; ++i) Step(f, events[i].data.fd, events[i].events);
        }
        for (auto& [fd, r] : open_) {
            Fail(f, r, "unfinished");
            ::close(fd);
        }
        open_.clear();
        return f;
    }

    // A plain blocking exchange for the set-up; the reply with its headers.
    std::string Exchange(const std::string& request, int member = 0) {
        const int fd = Connect(port_, member);
        if (fd < 0) return {};
        const int flags = ::fcntl(fd, F_GETFL);
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
        std::string reply;
        if (::send(fd, request.data(), request.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(request.size())) {
            char buffer[4096];
            ssize_t got;
            while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0) reply.append(buffer, static_cast<std::size_t>(got));
        }
        ::close(fd);
        return reply;
    }

    std::string Post(const std::string& path, const std::string& body, const std::string& cookie = {}) const {
        std::string r = "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                        "\r\nConnection: close\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
                        std::to_string(body.size()) + "\r\n";
        if (!cookie.empty()) r += "Cookie: STRIMOSESSION=" + cookie + "\r\n";
        return r + "\r\n" + body;
    }

private:
    int Connect(int port, int member) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) return -1;
        const int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        if (spread_ && port == port_) {
            sockaddr_in local{};
            local.sin_family = AF_INET;
            local.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 256 + static_cast<uint32_t>(member));  // 127.0.1.N
            ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
        }
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 && errno != EINPROGRESS) {
            ::close(fd);
            return -1;
        }
        return fd;
    }

    void Begin(Figures& f, Kind kind, Clock::time_point due) {
        Request r;
        r.due = due;
        // Publish and end need a stream issued (and published) before; while there is none,
        // the turn goes to the game list.
        if (kind == kPublish && issued.empty()) kind = kGames;
        if (kind == kEnd && published.empty()) kind = kGames;
        r.kind = kind;
        r.member = static_cast<int>(counter_++ % kMembers);
        int port = port_;
        switch (kind) {
            case kGames: r.out = Post("/api/games", ""); break;
            case kStream:
                r.out = Post("/api/stream", "gid=1 &title=load " + std::to_string(counter_),
                             sessions[static_cast<std::size_t>(r.member) % sessions.size()]);
                break;
            case kPublish:
                r.stream = issued.front().stream;
                r.lid = issued.front().lid;
                r.member = issued.front().member;
                issued.pop_front();
                r.out = Post("/rtmp/publish", "call=publish&addr=127.0.0.1&clientid=1&app=live&flashVer=x&swfUrl=&"
                                              "tcUrl=rtmp%3A%2F%2F127.0.0.1%2Flive&pageUrl=&name=" + r.stream);
                port = callbackPort_;
                break;
            case kEnd:
                // From the address that asked for the room, or the service refuses the notice.
                r.lid = published.front().lid;
                r.member = published.front().member;
                published.pop_front();
                r.out = Post("/api/end?lid=" + r.lid, "");
                break;
            case kLogin:
                r.out = Post("/api/login", "username=member" + std::to_string(r.member) + "&password=" + kPassword);
                break;
            case kKinds: break;
        }
        r.fd = Connect(port, r.member);
        if (r.fd < 0) {
            Fail(f, r, "connect");
            return;
        }
        epoll_event ev{};
        ev.events = EPOLLOUT | EPOLLIN;
        ev.data.fd = r.fd;
        ::epoll_ctl(epoll_, EPOLL_CTL_ADD, r.fd, &ev);
        open_.emplace(r.fd, std::move(r));
    }

    void Step(Figures& f, int fd, uint32_t events) {
        auto it = open_.find(fd);
        if (it == open_.end()) return;
        Request& r = it->second;
        bool done = false;
        std::string failure;
        if ((events & EPOLLOUT) && r.sent < r.out.size()) {
            const ssize_t n = ::send(fd, r.out.data() + r.sent, r.out.size() - r.sent, MSG_NOSIGNAL);
            if (n > 0) r.sent += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN) failure = std::string("send: ") + std::strerror(errno);
            if (r.sent == r.out.size()) {
                epoll_event ev{};
                ev.events = EPOLLIN;
                ev.data.fd = fd;
                ::epoll_ctl(epoll_, EPOLL_CTL_MOD, fd, &ev);
            }
        }
        if (failure.empty() && (events & (EPOLLIN | EPOLLHUP | EPOLLERR))) {
            char buffer[8192];
            for (;;) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n > 0) {
                    r.in.append(buffer, static_cast<std::size_t>(n));
                    continue;
                }
                if (n == 0) done = true;
                else if (errno != EAGAIN) failure = std::string("recv: ") + std::strerror(errno);
                break;
            }
        }
        if (!done && failure.empty()) return;
        if (failure.empty()) Finish(f, r);
        else Fail(f, r, failure);
        ::close(fd);
        open_.erase(it);
    }

    void Finish(Figures& f, Request& r) {
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - r.due).count();
        const auto headerEnd = r.in.find("\r\n\r\n");
        const std::string status = r.in.substr(0, std::min<std::size_t>(r.in.find("\r\n"), 64));
        const std::string body = headerEnd == std::string::npos ? std::string() : r.in.substr(headerEnd + 4);
        bool ok = status.find(" 200 ") != std::string::npos;
        switch (r.kind) {
            case kGames: ok = ok && body.size() > 2 && body[0] == '['; break;
            case kStream: {
                const std::string stream = Between(body, "\"pipName\":\"", "\"");
                const std::string lid = Between(body, "\"lid\":\"", "\"");
                ok = ok && !stream.empty() && !lid.empty();
                if (ok) {
                    issued.push_back({stream, lid, r.member});
                    allIssued.insert(lid + " " + stream);
                }
                break;
            }
            case kPublish:
                if (ok) published.push_back({r.stream, r.lid, r.member});
                break;
            case kEnd:
                ok = ok && body == "1";
                if (ok) allEnded.insert(r.lid);
                break;
            case kLogin: ok = ok && body == "1"; break;
            case kKinds: break;
        }
        if (!ok) {
            Fail(f, r, status.empty() ? "empty reply" : status);
            return;
        }
        f.ms[r.kind].push_back(ms);
    }

    void Fail(Figures& f, const Request& r, const std::string& why) {
        ++f.errors[r.kind];
        ++f.why[std::string(kKindNames[r.kind]) + ": " + why];
    }

    int port_;
    int callbackPort_;
    bool spread_;
    int epoll_;
    long counter_ = 0;
    std::unordered_map<int, Request> open_;
};

double LoadAverage() {
    double one = 0;
    if (FILE* f = std::fopen("/proc/loadavg", "r")) {
        if (std::fscanf(f, "%lf", &one) != 1) one = 0;
        std::fclose(f);
    }
    return one;
}

double ProcessCpuSeconds(pid_t pid) {
    std::string path = "/proc/" + std::to_string(pid) + "/stat";
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return 0;
    char buffer[2048];
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    buffer[n] = 0;
    const char* p = std::strrchr(buffer, ')');
    if (p == nullptr) return 0;
    std::istringstream in(p + 2);
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stoull(field);
        if (i == 15) stime = std::stoull(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

struct RoomRows {
    std::set<std::string> rooms;  // "lid stream"
    std::set<std::string> ended;  // lids
};

bool ReadSqliteRooms(const std::string& file, RoomRows& rows) {
    sqlite3* raw = nullptr;
    if (sqlite3_open_v2(file.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return false;
    std::unique_ptr<sqlite3, decltype(&sqlite3_close)> db(raw, &sqlite3_close);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db.get(), "SELECT lid, stream, state FROM rooms", -1, &stmt, nullptr) != SQLITE_OK) return false;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        const std::string lid = std::to_string(sqlite3_column_int64(stmt, 0));
        rows.rooms.insert(lid + " " + reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
        if (std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 2))) == "ended") rows.ended.insert(lid);
    }
    sqlite3_finalize(stmt);
    return true;
}

// The same rows from PostgreSQL, through psql as an operator would look.
bool ReadPostgresRooms(const std::string& url, RoomRows& rows) {
    const std::string command = "psql -X -q -A -t -F ' ' -v ON_ERROR_STOP=1 -c 'SELECT lid, stream, state FROM rooms' '" +
                                url + "'";
    std::unique_ptr<FILE, decltype(&::pclose)> in(::popen(command.c_str(), "r"), &::pclose);
    if (!in) return false;
    char line[512];
    while (std::fgets(line, sizeof line, in.get()) != nullptr) {
        std::istringstream fields(line);
        std::string lid, stream, state;
        if (!(fields >> lid >> stream >> state)) continue;
        rows.rooms.insert(lid + " " + stream);
        if (state == "ended") rows.ended.insert(lid);
    }
    return ::pclose(in.release()) == 0;
}

// Every issued stream is a room with its name, and every ended room says so.
bool VerifyDatabase(const std::string& file, const std::string& database, const Generator& g) {
    RoomRows rows;
    if (!(database.empty() ? ReadSqliteRooms(file, rows) : ReadPostgresRooms(database, rows))) {
        std::printf("database: cannot be read\n");
        return false;
    }
    const auto& rooms = rows.rooms;
    const auto& ended = rows.ended;
    long missing = 0, notEnded = 0;
    for (const auto& s : g.allIssued) missing += rooms.count(s) == 0;
    for (const auto& l : g.allEnded) notEnded += ended.count(l) == 0;
    std::printf("database: %zu rooms; %zu streams issued, %ld missing; %zu rooms ended, %ld not marked ended\n",
                rooms.size(), g.allIssued.size(), missing, g.allEnded.size(), notEnded);
    return missing == 0 && notEnded == 0;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

pid_t PidIn(const std::string& file) { return static_cast<pid_t>(std::atoi(ReadFile(file).c_str())); }

// Alive and not a zombie waiting to be reaped by whoever adopted it.
bool Running(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(") ");
    return close != std::string::npos && stat.compare(close + 2, 1, "Z") != 0;
}

// The pid files of the instances service.sh started (instance 1 keeps the single one's name).
std::vector<std::string> InstancePidFiles(const std::string& data, int instances) {
    std::vector<std::string> files;
    for (int k = 1; k <= instances; ++k)
        files.push_back(data + (k == 1 ? "/service.pid" : "/service-" + std::to_string(k) + ".pid"));
    return files;
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    double logins = 10;
    double limitMs = 100;
    std::vector<double> rates = {100, 200, 300, 400, 500, 600, 800, 1000, 1200, 1500, 2000};
    fs::path service = fs::canonical("/proc/self/exe").parent_path().parent_path() / "service" / "strimo-service";
    std::vector<std::string> extra;  // more settings for the service
    bool front = false;
    int instances = 1;
    int killAfter = 0;
    int restartAfter = 0;
    std::string database;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--front") front = true;
        else if (arg == "--instances" && i + 1 < argc) front = (instances = std::atoi(argv[++i])) > 0;
        else if (arg == "--kill-after" && i + 1 < argc) killAfter = std::atoi(argv[++i]);
        else if (arg == "--restart-after" && i + 1 < argc) restartAfter = std::atoi(argv[++i]);
        else if (arg == "--database" && i + 1 < argc) database = argv[++i];
        else if (arg == "--seconds" && i + 1 < argc) seconds = std::atoi(argv[++i]);
        else if (arg == "--logins" && i + 1 < argc) logins = std::atof(argv[++i]);
        else if (arg == "--limit-ms" && i + 1 < argc) limitMs = std::atof(argv[++i]);
        else if (arg == "--service" && i + 1 < argc) service = argv[++i];
        else if (arg == "--service-option" && i + 1 < argc) extra.push_back(argv[++i]);
        else if (arg == "--rates" && i + 1 < argc) {
            rates.clear();
            std::istringstream in(argv[++i]);
            std::string r;
            while (std::getline(in, r, ',')) rates.push_back(std::atof(r.c_str()));
        } else {
            std::fprintf(stderr, "usage: service_load [--seconds N] [--rates R1,R2,...] [--logins N] [--limit-ms MS] "
                                 "[--service PATH] [--service-option --NAME=VALUE]... [--front] [--instances N] "
                                 "[--kill-after S | --restart-after S] [--database URL]\n");
            return 2;
        }
    }
    const int faultAfter = std::max(killAfter, restartAfter);
    if (instances < 1 || instances > 16 || killAfter < 0 || restartAfter < 0 || (killAfter > 0 && restartAfter > 0) ||
        (faultAfter > 0 && (!front || faultAfter >= seconds))) {
        std::fprintf(stderr, "service_load: 1 to 16 instances; --kill-after or --restart-after, behind the front and "
                             "within the first rate\n");
        return 2;
    }
    if (seconds < 1 || seconds > 600 || rates.empty() || rates.size() > 30 ||
        std::any_of(rates.begin(), rates.end(), [](double r) { return r <= 0 || r > 20000; })) {
        std::fprintf(stderr, "service_load: 1 to 600 s per rate, 1 to 30 rates of at most 20000/s\n");
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);

    testsupport::TempDir dir;
    const std::string data = dir / "data";
    fs::create_directories(data);
    for (int m = 0; m < kMembers; ++m)
        if (!AddMember(service, data, database, "member" + std::to_string(m))) {
            std::fprintf(stderr, "cannot add members with %s\n", service.c_str());
            return 1;
        }
    // The load makes far more rooms per member than one broadcaster could.
    extra.insert(extra.begin(), "--rooms-per-minute=0");
    if (!database.empty()) extra.push_back("--database=" + database);
    const int port = testsupport::FreeLoopbackPort();
    const std::string script = STRIMO_SOURCE_DIR "/scripts/service.sh";
    pid_t server = -1;
    int callbackPort = port;
    if (front) {
        std::string config;
        for (const auto& e : extra) {
            const auto eq = e.find('=');
            config += e.substr(2, eq - 2) + " = " + (eq == std::string::npos ? "" : e.substr(eq + 1)) + "\n";
        }
        if (FILE* f = std::fopen((data + "/strimo-service.conf").c_str(), "w")) {
            std::fputs(config.c_str(), f);
            std::fclose(f);
        }
        const std::string start = "'" + script + "' start --no-demo --data '" + data + "' --port " + std::to_string(port) +
                                  " --rtmp-port " + std::to_string(testsupport::FreeLoopbackPort()) + " --build '" +
                                  service.parent_path().parent_path().string() + "' --instances " +
                                  std::to_string(instances) + " >/dev/null";
        if (std::system(start.c_str()) != 0) {
            std::fprintf(stderr, "service.sh did not start the service\n");
            return 1;
        }
        server = PidIn(data + "/service.pid");
        // Where nginx-rtmp sends the callbacks: the front's listener for them.
        callbackPort = std::atoi(
            Between(ReadFile(data + "/nginx/conf/nginx.conf"), "on_publish http://127.0.0.1:", "/").c_str());
    } else {
        std::vector<std::string> serveArgs = {service.string(), "serve", "--listen", "127.0.0.1", "--port", std::to_string(port),
                                              "--data", data, "--rtmp-url", "rtmp://127.0.0.1:1935/live", "--web-url",
                                              "http://127.0.0.1:" + std::to_string(port)};
        for (const auto& e : extra) {
            const auto eq = e.find('=');
            serveArgs.push_back(e.substr(0, eq));
            if (eq != std::string::npos) serveArgs.push_back(e.substr(eq + 1));
        }
        server = Spawn(serveArgs);
    }
    auto stop = [&] {
        if (front) {
            [[maybe_unused]] const int rc = std::system(("'" + script + "' stop --data '" + data + "' >/dev/null").c_str());
            return;
        }
        ::kill(server, SIGTERM);
        int status = 0;
        ::waitpid(server, &status, 0);
    };
    if (server <= 0 || callbackPort <= 0 ||
        !testsupport::WaitFor([port] { return testsupport::PortAccepts(port); }, std::chrono::seconds(10),
                              std::chrono::milliseconds(50))) {
        std::fprintf(stderr, "the service did not start\n");
        stop();
        return 1;
    }

    Generator g(port, callbackPort, front);
    for (int m = 0; m < kMembers; ++m) {
        const std::string reply =
            g.Exchange(g.Post("/api/login", "username=member" + std::to_string(m) + "&password=" + kPassword), m);
        const std::string cookie = Between(reply, "STRIMOSESSION=", ";");
        if (cookie.empty()) {
            std::fprintf(stderr, "login of member%d failed:\n%s\n", m, reply.c_str());
            stop();
            return 1;
        }
        g.sessions.push_back(cookie);
    }

    std::printf("service_load: %d s per rate, logins %.0f/s on top, limit p99 %.0f ms, %u cores\n", seconds, logins,
                limitMs, std::thread::hardware_concurrency());
    std::printf("%8s %9s | %8s %8s %8s %7s | %8s %8s %6s | %10s %6s\n", "offered", "answered", "p50 ms", "p99 ms",
                "max ms", "errors", "login50", "login99", "lerr", "service cpu", "load");
    double saturation = 0;
    double lastGood = 0;
    // The instances' CPU over a step: of those that ran through it.
    const auto pidFiles = front ? InstancePidFiles(data, instances) : std::vector<std::string>{};
    auto servicePids = [&] {
        std::vector<pid_t> pids;
        for (const auto& file : pidFiles) pids.push_back(PidIn(file));
        if (!front) pids.push_back(server);
        return pids;
    };
    // The kill: one instance, by its pid; the watcher (or nobody, with one instance) starts it
    // again. A thread notes when it answers again.
    pid_t killed = 0;
    std::atomic<long> backAfterMs{-1};
    std::thread watch;
    // The rolling restart, from a thread of its own as an operator would run it beside the load.
    std::atomic<int> restartStatus{-1};
    std::atomic<long> restartMs{0};
    auto restartAll = [&] {
        watch = std::thread([&] {
            const auto at = Clock::now();
            restartStatus = std::system(("'" + script + "' restart-instances --data '" + data + "' >/dev/null").c_str());
            restartMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - at).count();
        });
    };
    auto killOne = [&] {
        killed = PidIn(data + "/service.pid");
        const int instancePort = std::atoi(ReadFile(data + "/instances").substr(2).c_str());
        ::kill(killed, SIGKILL);
        const auto at = Clock::now();
        watch = std::thread([&, at, instancePort] {
            if (testsupport::WaitFor(
                    [&] {
                        const pid_t now = PidIn(data + "/service.pid");
                        return now != killed && Running(now) && testsupport::PortAccepts(instancePort);
                    },
                    std::chrono::seconds(30), std::chrono::milliseconds(10)))
                backAfterMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - at).count();
        });
    };
    bool first = true;
    for (double rate : rates) {
        const auto pidsBefore = servicePids();
        std::vector<double> cpuBefore;
        for (pid_t pid : pidsBefore) cpuBefore.push_back(ProcessCpuSeconds(pid));
        const Figures f =
            first && faultAfter > 0
                ? g.Run(rate, logins, seconds, killAfter > 0 ? std::function<void()>(killOne) : std::function<void()>(restartAll),
                        std::chrono::seconds(faultAfter))
                : g.Run(rate, logins, seconds);
        first = false;
        const auto pidsAfter = servicePids();
        double cpu = 0;
        for (std::size_t i = 0; i < pidsAfter.size(); ++i)
            if (pidsAfter[i] == pidsBefore[i]) cpu += ProcessCpuSeconds(pidsAfter[i]) - cpuBefore[i];
        std::vector<double> mix;
        long errors = 0;
        for (int k = 0; k < kLogin; ++k) {
            mix.insert(mix.end(), f.ms[k].begin(), f.ms[k].end());
            errors += f.errors[k];
        }
        const double p99 = Percentile(mix, 0.99);
        std::printf("%8.0f %9.1f | %8.2f %8.2f %8.1f %7ld | %8.1f %8.1f %6ld | %9.0f%% %6.2f\n", rate,
                    static_cast<double>(mix.size()) / seconds, Percentile(mix, 0.5), p99,
                    mix.empty() ? 0 : *std::max_element(mix.begin(), mix.end()), errors,
                    Percentile(f.ms[kLogin], 0.5), Percentile(f.ms[kLogin], 0.99), f.errors[kLogin],
                    100.0 * cpu / seconds, LoadAverage());
        for (int k = 0; k < kLogin; ++k)
            std::printf("         %-8s n=%-6zu p50 %7.2f  p99 %7.2f ms\n", kKindNames[k], f.ms[k].size(),
                        Percentile(f.ms[k], 0.5), Percentile(f.ms[k], 0.99));
        for (const auto& [why, n] : f.why) std::printf("         error %s: %ld\n", why.c_str(), n);
        std::fflush(stdout);
        if (errors > 0 || f.errors[kLogin] > 0 || p99 > limitMs) {
            saturation = rate;
            break;
        }
        lastGood = rate;
    }
    if (saturation > 0)
        std::printf("saturation: errors or p99 > %.0f ms at %.0f requests/s; last rate within the limit %.0f/s\n",
                    limitMs, saturation, lastGood);
    else
        std::printf("no saturation up to %.0f requests/s\n", lastGood);

    if (watch.joinable()) watch.join();
    if (killed > 0) {
        if (backAfterMs >= 0)
            std::printf("kill: instance 1 (pid %d) killed %d s into the run; answering again after %ld ms (pid %d)\n",
                        killed, killAfter, backAfterMs.load(), PidIn(data + "/service.pid"));
        else
            std::printf("kill: instance 1 (pid %d) killed %d s into the run; not answering again within 30 s\n", killed,
                        killAfter);
    }
    if (restartAfter > 0)
        std::printf("rolling restart: started %d s into the run; %s after %ld ms\n", restartAfter,
                    restartStatus == 0 ? "done" : "FAILED", restartMs.load());
    // Every member's session, opened before the load, still lets the member in.
    long valid = 0;
    for (int m = 0; m < kMembers; ++m) {
        const std::string reply = g.Exchange("GET /member/?p=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                             "Cookie: STRIMOSESSION=" + g.sessions[static_cast<std::size_t>(m)] + "\r\n\r\n",
                                             m);
        valid += reply.find(" 200 ") != std::string::npos && reply.find("action=\"/member/login\"") == std::string::npos;
    }
    std::printf("sessions: %ld of %d still valid\n", valid, kMembers);

    stop();
    const bool kept = VerifyDatabase(data + "/strimo.db", database, g);
    return kept && valid == kMembers && (killed == 0 || backAfterMs >= 0) && (restartAfter == 0 || restartStatus == 0)
               ? 0
               : 1;
}
