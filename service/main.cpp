// strimo-service: the reference service of STRIMO直播. See service/README.md.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <pthread.h>
#include <sys/stat.h>
#include <string>
#include <thread>
#include <vector>

#include "PasswordHash.h"
#include "ServiceConfig.h"
#include "ServiceServer.h"
#include "ServiceStore.h"
#include "TextRules.h"
#include "UpdateDescription.h"

namespace {

constexpr const char* kUsage =
    "usage:\n"
    "  strimo-service [serve] [--config FILE] [--listen ADDR] [--port N] [--data DIR]\n"
    "                 [--rtmp-url URL] [--web-url URL] [other settings, see service/README.md]\n"
    "  strimo-service add-user [--data DIR] NAME        (password on standard input)\n"
    "  strimo-service set-password [--data DIR] NAME    (password on standard input)\n"
    "  strimo-service end-live [--data DIR]             (before the streaming server starts)\n"
    "  strimo-service move-database [--data DIR] [--config FILE] TO\n"
    "                 (copies the data folder's SQLite database, or the `database` of FILE, into\n"
    "                  the empty database TO, a postgresql://… address or a SQLite file)\n"
    "  strimo-service make-update --version N [--delete-file PATH]... [--delete-dir PATH]... FOLDER\n";

int Fail(const std::string& message)
{
    std::cerr << "strimo-service: " << message << "\n";
    return 1;
}

std::vector<ServiceStore::Game> ReadGames(const std::string& path)
{
    std::vector<ServiceStore::Game> games;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || tab == 0 || tab + 1 == line.size()) continue;
        games.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return games;
}

bool ReadPassword(std::string& password)
{
    if (!std::getline(std::cin, password)) return false;
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return true;
}

int Serve(ServiceConfig config)
{
    // Signals are taken by one thread with sigwait, so a stop never runs inside a handler.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::error_code ec;
    for (const auto& dir : {config.dataDir, config.updateDir, config.hlsDir}) {
        std::filesystem::create_directories(dir, ec);
        if (ec) return Fail("cannot create " + dir + ": " + ec.message());
    }
    const auto store = ServiceStore::Open(config.Database());
    const auto games = ReadGames(config.gamesFile);
    if (games.empty() && store->Games().empty()) return Fail("no games in " + config.gamesFile);
    store->SeedGames(games);

    ServiceServer server(config, *store);
    const int port = server.Bind();
    if (port < 0) return Fail("cannot listen on " + config.listen + ":" + std::to_string(config.port));
    std::printf("strimo-service: listening on http://%s:%d/ (data %s)\n", config.listen.c_str(), port,
                config.dataDir.c_str());
    if (server.CallbackPort() >= 0) {
        std::printf("strimo-service: publish callbacks on http://%s:%d/rtmp/\n", config.listen.c_str(),
                    server.CallbackPort());
    }
    std::fflush(stdout);

    std::thread stopper([&server, signals] {
        int signal = 0;
        sigwait(&signals, &signal);
        server.Stop();
    });
    const bool ok = server.Run();
    // Run() also returns when the socket fails; wake the stopper so it can be joined.
    pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    std::printf("strimo-service: stopped\n");
    return ok ? 0 : 1;
}

int AccountCommand(const std::string& command, ServiceConfig config, const std::vector<std::string>& rest)
{
    if (rest.size() != 1) return Fail(std::string("one member name expected\n") + kUsage);
    const std::string& name = rest[0];
    if (!TextRules::IsValidUserName(name)) {
        return Fail("a member name is 2 to 32 bytes of letters, digits, Chinese characters, '_', '-' or '.'");
    }
    std::string password;
    if (!ReadPassword(password)) return Fail("no password on standard input");
    if (!TextRules::IsValidPassword(password)) return Fail("a password is 6 to 128 bytes without control characters");
    std::filesystem::create_directories(config.dataDir);
    const auto opened = ServiceStore::Open(config.Database());
    ServiceStore& store = *opened;
    const std::string hash = PasswordHash::Make(password, config.hashIterations);
    if (command == "add-user") {
        if (store.FindUser(name)) return Fail("member " + name + " exists already (set-password changes the password)");
        switch (store.AddUser(name, hash)) {
        case ServiceStore::AddUserResult::Added: break;
        case ServiceStore::AddUserResult::Exists:
            return Fail("member " + name + " exists already (set-password changes the password)");
        case ServiceStore::AddUserResult::LooksLikeAnother:
            return Fail("member name " + name + " looks like an existing one");
        }
        std::printf("member %s added\n", name.c_str());
    } else {
        if (!store.SetPasswordHash(name, hash)) return Fail("no member " + name);
        std::printf("password of %s set; the member's sessions were ended\n", name.c_str());
    }
    return 0;
}

int MoveDatabase(const ServiceConfig& config, const std::vector<std::string>& rest)
{
    if (rest.size() != 1) return Fail(std::string("one database to move to expected\n") + kUsage);
    const std::string from = config.Database();
    const std::string& to = rest[0];
    if (from == to) return Fail("the database to move to is the one moved from");
    if (!ServiceStore::IsPostgresUrl(from) && !std::filesystem::is_regular_file(from)) {
        return Fail("no database at " + from);
    }
    // Opening brings the source's tables up to this version first, as starting the service
    // on it would have.
    const auto source = ServiceStore::Open(from);
    const auto target = ServiceStore::Open(to);
    const auto contents = source->Read();
    std::printf("moving %zu member(s), %zu session(s), %zu game(s), %zu room(s), %zu post(s)\n",
                contents.users.size(), contents.sessions.size(), contents.games.size(), contents.rooms.size(),
                contents.posts.size());
    std::fflush(stdout);
    target->Fill(contents);
    const auto moved = target->Read();
    if (moved.users.size() != contents.users.size() || moved.sessions.size() != contents.sessions.size() ||
        moved.rooms.size() != contents.rooms.size() || moved.posts.size() != contents.posts.size() ||
        moved.games.size() != contents.games.size()) {
        return Fail("the database moved to does not hold what was moved; nothing was changed in " + from);
    }
    std::printf("done: the service uses it with \"database = %s\" in strimo-service.conf; %s is left as it was\n",
                to.c_str(), from.c_str());
    return 0;
}

int MakeUpdate(int argc, char** argv)
{
    UpdateDescription::Options options;
    std::string folder;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : std::string{}; };
        if (arg == "--version") options.version = value();
        else if (arg == "--delete-file") options.deleteFiles.push_back(value());
        else if (arg == "--delete-dir") options.deleteDirectories.push_back(value());
        else if (!arg.empty() && arg[0] != '-' && folder.empty()) folder = arg;
        else return Fail("unexpected argument " + arg + "\n" + kUsage);
    }
    if (folder.empty()) return Fail(std::string("no release folder given\n") + kUsage);
    const std::string xml = UpdateDescription::Build(folder, options);
    const auto target = std::filesystem::path(folder) / UpdateDescription::kFileName;
    const auto temporary = std::filesystem::path(folder) / ".updata.xml.tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << xml;
        if (!out.flush()) return Fail("cannot write " + temporary.string());
    }
    // The host may be serving the folder: the description is replaced in one step.
    std::filesystem::rename(temporary, target);
    std::printf("%s written for version %s\n", target.c_str(), options.version.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        std::string command = argc > 1 && argv[1][0] != '-' ? argv[1] : "serve";
        if (command == "help" || (argc > 1 && std::string(argv[1]) == "--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        // A release is public, and the web server's user reads it.
        if (command == "make-update") return MakeUpdate(argc, argv);
        // The database holds every password hash and session: what the other commands create is
        // this user's alone.
        umask(077);
        const int first = argc > 1 && argv[1][0] != '-' ? 2 : 1;
        ServiceConfig config;
        std::vector<std::string> rest;
        if (auto error = config.ParseArgs(argc, argv, first, rest); !error.empty()) {
            return Fail(error + "\n" + kUsage);
        }
        config.Complete();
        if (command == "serve") {
            if (!rest.empty()) return Fail("unexpected argument " + rest[0] + "\n" + kUsage);
            return Serve(config);
        }
        if (command == "add-user" || command == "set-password") return AccountCommand(command, config, rest);
        if (command == "end-live") {
            std::printf("%d live room(s) marked as dropped\n", ServiceStore::Open(config.Database())->EndAllLive());
            return 0;
        }
        if (command == "move-database") return MoveDatabase(config, rest);
        return Fail("unknown command " + command + "\n" + kUsage);
    } catch (const std::exception& e) {
        return Fail(e.what());
    }
}
