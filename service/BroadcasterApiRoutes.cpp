#include "BroadcasterApiRoutes.h"

#include <httplib.h>
#include <json/json.h>

#include <algorithm>

#include "FormData.h"
#include "HttpReply.h"
#include "PasswordHash.h"
#include "TextRules.h"

namespace {

constexpr size_t kTitleBytes = 200;
constexpr const char* kOtherGame = "其他";

}  // namespace

BroadcasterApiRoutes::BroadcasterApiRoutes(const ServiceConfig& config, ServiceStore& store, MemberSessions& sessions)
    : config_(config), store_(store), sessions_(sessions)
{
}

void BroadcasterApiRoutes::Register(httplib::Server& server)
{
    server.Post("/api/login", [this](const auto& req, auto& res) { Login(req, res); });
    server.Post("/api/games", [this](const auto& req, auto& res) { GameList(req, res); });
    server.Get("/api/games", [this](const auto& req, auto& res) { GameList(req, res); });
    server.Post("/api/stream", [this](const auto& req, auto& res) { StreamInfo(req, res); });
    server.Post("/api/end", [this](const auto& req, auto& res) { EndNotice(req, res); });
    server.Get("/api/room", [this](const auto& req, auto& res) { RoomState(req, res); });
    // The broadcaster posts to the part of each configured address from its last "/" on
    // ("/api/login" reaches us as "/login"), on the connection of its login.
    server.Post("/login", [this](const auto& req, auto& res) { Login(req, res); });
    server.Post("/games", [this](const auto& req, auto& res) { GameList(req, res); });
    server.Post("/stream", [this](const auto& req, auto& res) { StreamInfo(req, res); });
    server.Post("/end", [this](const auto& req, auto& res) { EndNotice(req, res); });
    RegisterCallbacks(server);
}

void BroadcasterApiRoutes::RegisterCallbacks(httplib::Server& server)
{
    server.Post("/rtmp/publish", [this](const auto& req, auto& res) { OnPublish(req, res); });
    server.Post("/rtmp/publish_done", [this](const auto& req, auto& res) { OnPublishDone(req, res); });
}

bool BroadcasterApiRoutes::AnswerBodyless(const httplib::Request& req, httplib::Response& res)
{
    if (req.path == "/api/end") {
        EndNotice(req, res);
        return true;
    }
    if (req.path == "/api/games") {
        GameList(req, res);
        return true;
    }
    return false;
}

bool BroadcasterApiRoutes::FromCallbackAddress(const httplib::Request& req) const
{
    return std::find(config_.callbackFrom.begin(), config_.callbackFrom.end(), req.remote_addr) !=
           config_.callbackFrom.end();
}

void BroadcasterApiRoutes::Login(const httplib::Request& req, httplib::Response& res)
{
    const auto form = FormData::Parse(req.body);
    const auto name = form.Get("username");
    const auto password = form.Get("password");
    std::optional<ServiceStore::User> user;
    if (name && password) user = sessions_.CheckPassword(*name, *password, sessions_.AddressOf(req));
    if (!user) {
        HttpReply::Plain(res, "0");
        return;
    }
    sessions_.Start(res, user->id);
    HttpReply::Plain(res, "1");
}

void BroadcasterApiRoutes::GameList(const httplib::Request&, httplib::Response& res)
{
    Json::Value list(Json::arrayValue);
    for (const auto& game : store_.Games()) {
        Json::Value item;
        item["gname"] = game.gname;
        item["gid"] = game.gid;
        list.append(item);
    }
    HttpReply::Json(res, list);
}

void BroadcasterApiRoutes::StreamInfo(const httplib::Request& req, httplib::Response& res)
{
    const auto user = sessions_.Of(req);
    if (!user) {
        res.status = 401;
        res.set_content(R"({"error":"not logged in"})", HttpReply::kJson);
        return;
    }
    if (!MayOpenRoom(user->id)) {
        res.status = 429;
        res.set_content(R"({"error":"too many rooms"})", HttpReply::kJson);
        return;
    }
    const auto form = FormData::Parse(req.body);
    // The broadcaster sends "gid=ID &title=TEXT": the id arrives with a trailing space.
    const std::string gid = form.GetTrimmed("gid").value_or("");
    std::optional<ServiceStore::Game> game;
    if (!gid.empty() && gid.size() <= 32) game = store_.FindGame(gid);
    if (!game) game = store_.FindGameByName(kOtherGame);
    const std::string title = TextRules::Clean(form.GetTrimmed("title").value_or(""), kTitleBytes);
    const std::string stream = "s" + PasswordHash::RandomHex(16);
    const int64_t lid = store_.CreateRoom(user->id, game ? game->gid : std::string{}, title, stream,
                                          sessions_.AddressOf(req));
    Json::Value reply;
    reply["pipName"] = stream;
    reply["pipUrl"] = config_.rtmpUrl;
    reply["lid"] = std::to_string(lid);
    HttpReply::Json(res, reply);
}

bool BroadcasterApiRoutes::MayOpenRoom(int64_t userId)
{
    if (config_.roomsPerMinute > 0 && store_.RoomsCreatedSince(userId, 60) >= config_.roomsPerMinute) return false;
    return config_.liveRoomsPerMember == 0 || store_.LiveRoomsOfUser(userId) < config_.liveRoomsPerMember;
}

void BroadcasterApiRoutes::EndNotice(const httplib::Request& req, httplib::Response& res)
{
    // The broadcaster sends the notice on a fresh session (no cookie), so the session cannot
    // vouch for it. The room's lid is public (it is in every room page address), so neither can
    // the lid alone: the notice must come from the address that asked for the room.
    const std::string lid = FormData::ParseQuery(req.target).GetTrimmed("lid").value_or("");
    if (!TextRules::IsId(lid)) {
        HttpReply::Plain(res, "0", 400);
        return;
    }
    switch (store_.EndByNotice(std::stoll(lid), sessions_.AddressOf(req))) {
    case ServiceStore::EndResult::Ended:
    case ServiceStore::EndResult::AlreadyEnded: HttpReply::Plain(res, "1"); break;
    case ServiceStore::EndResult::NotFound: HttpReply::Plain(res, "0", 404); break;
    case ServiceStore::EndResult::NotOwner: HttpReply::Plain(res, "0", 403); break;
    }
}

void BroadcasterApiRoutes::RoomState(const httplib::Request& req, httplib::Response& res)
{
    const std::string lid = FormData::ParseQuery(req.target).GetTrimmed("lid").value_or("");
    const auto room = TextRules::IsId(lid) ? store_.FindRoom(std::stoll(lid)) : std::nullopt;
    if (!room) {
        res.status = 404;
        res.set_content(R"({"error":"no such room"})", HttpReply::kJson);
        return;
    }
    Json::Value reply;
    reply["lid"] = std::to_string(room->lid);
    reply["state"] = ServiceStore::StateName(room->state);
    reply["title"] = room->title;
    reply["game"] = room->gameName;
    reply["member"] = room->userName;
    reply["playlist"] = "/hls/room-" + std::to_string(room->lid) + ".m3u8";
    res.set_header("Cache-Control", "no-store");
    HttpReply::Json(res, reply);
}

void BroadcasterApiRoutes::OnPublish(const httplib::Request& req, httplib::Response& res)
{
    if (!FromCallbackAddress(req)) {
        HttpReply::Plain(res, "refused\n", 403);
        return;
    }
    const auto form = FormData::Parse(req.body);
    const std::string name = form.Get("name").value_or("");
    const std::string app = form.Get("app").value_or("");
    const bool wellFormed = app == config_.rtmpApp && name.size() == 33 && name[0] == 's' &&
                            std::all_of(name.begin() + 1, name.end(), [](char c) {
                                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                            });
    if (wellFormed && store_.StartPublish(name, config_.reconnectGrace) ==
                          ServiceStore::PublishResult::Accepted) {
        HttpReply::Plain(res, "ok\n");
        return;
    }
    // Any non-2xx answer makes the streaming server refuse the publish.
    HttpReply::Plain(res, "refused\n", 403);
}

void BroadcasterApiRoutes::OnPublishDone(const httplib::Request& req, httplib::Response& res)
{
    if (!FromCallbackAddress(req)) {
        HttpReply::Plain(res, "refused\n", 403);
        return;
    }
    const auto form = FormData::Parse(req.body);
    const std::string name = form.Get("name").value_or("");
    if (!name.empty() && name.size() <= 64) store_.PublishDone(name);
    HttpReply::Plain(res, "ok\n");
}
