#include "ServiceServer.h"

#include <httplib.h>
#include <json/json.h>

#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>
#include <vector>

#include "FormData.h"
#include "HtmlPage.h"
#include "PasswordHash.h"
#include "TextRules.h"
#include "UpdateDescription.h"

namespace {

constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kHtml = "text/html; charset=utf-8";
constexpr const char* kJson = "application/json; charset=utf-8";
constexpr size_t kTitleBytes = 200;
constexpr size_t kPostBytes = 2000;
constexpr uintmax_t kPlaylistBytes = 256 * 1024;
constexpr const char* kOtherGame = "其他";
constexpr int kListenBacklog = 1024;

std::string ToJson(const Json::Value& value)
{
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    // Raw UTF-8, no "\u" escapes: the broadcaster reads the reply's bytes as text.
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

// The query string of the request target, parsed the same way as form bodies.
FormData Query(const httplib::Request& req)
{
    const size_t mark = req.target.find('?');
    return FormData::Parse(mark == std::string::npos ? std::string_view{}
                                                      : std::string_view(req.target).substr(mark + 1));
}

void Html(httplib::Response& res, const std::string& page, int status = 200)
{
    res.status = status;
    res.set_content(page, kHtml);
}

void Plain(httplib::Response& res, const std::string& text, int status = 200)
{
    res.status = status;
    res.set_content(text, kText);
}

void SeeOther(httplib::Response& res, const std::string& location)
{
    res.set_redirect(location, 303);
}

// Streams a regular file as the response body. False when it is not one.
bool ServeFile(httplib::Response& res, const std::filesystem::path& path, const std::string& type)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) return false;
    auto in = std::make_shared<std::ifstream>(path, std::ios::binary);
    if (!*in) return false;
    res.set_content_provider(
        static_cast<size_t>(size), type,
        [in](size_t offset, size_t length, httplib::DataSink& sink) {
            char buffer[16384];
            in->seekg(static_cast<std::streamoff>(offset));
            const auto want = static_cast<std::streamsize>(std::min(length, sizeof buffer));
            in->read(buffer, want);
            const auto got = in->gcount();
            if (got <= 0) return false;
            return sink.write(buffer, static_cast<size_t>(got));
        });
    return true;
}

std::string ContentTypeOf(const std::string& name)
{
    auto ends = [&](const char* suffix) {
        const std::string s = suffix;
        return name.size() >= s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0;
    };
    if (ends(".xml")) return "text/xml; charset=utf-8";
    if (ends(".txt")) return kText;
    if (ends(".css")) return "text/css; charset=utf-8";
    if (ends(".js")) return "text/javascript; charset=utf-8";
    if (ends(".png")) return "image/png";
    if (ends(".gif")) return "image/gif";
    if (ends(".bmp")) return "image/bmp";
    if (ends(".html")) return kHtml;
    return "application/octet-stream";
}

std::string StateText(const ServiceStore::Room& room)
{
    switch (room.state) {
    case ServiceStore::RoomState::Issued: return "issued";
    case ServiceStore::RoomState::Live: return "live";
    case ServiceStore::RoomState::Ended: return "ended";
    }
    return "ended";
}

std::string RoomTitle(const ServiceStore::Room& room)
{
    return room.title.empty() ? std::string("（无标题）") : room.title;
}

// The methods a known path answers (empty for unknown paths); any other method gets 405.
std::vector<std::string> AllowedMethods(const std::string& path)
{
    auto under = [&](std::string_view prefix) {
        return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
    };
    const size_t slashes = path.find_first_not_of('/');
    const bool indexPage = slashes != std::string::npos && slashes > 0 && path.substr(slashes) == "index.php";
    if (path == "/api/login" || path == "/api/stream" || path == "/api/end" || path == "/rtmp/publish" ||
        path == "/rtmp/publish_done" || path == "/member/login" || path == "/member/password") {
        return {"POST"};
    }
    if (path == "/api/games" || path == "/forum/" || indexPage) return {"GET", "POST"};
    if (path == "/api/room" || path == "/" || path == "/live/" || path == "/live/room" || path == "/member/" ||
        path == "/update/" || under("/updata/") || under("/hls/") || under("/static/")) {
        return {"GET"};
    }
    return {};
}

}  // namespace

ServiceServer::ServiceServer(ServiceConfig config, ServiceStore& store)
    : config_(std::move(config)), store_(store), server_(std::make_unique<httplib::Server>())
{
    dummyHash_ = PasswordHash::Make("no such member", config_.hashIterations);
    const size_t threads = static_cast<size_t>(config_.threads);
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_->set_payload_max_length(config_.maxBody);
    server_->set_keep_alive_timeout(5);
    server_->set_read_timeout(10);
    server_->set_write_timeout(10);
    Routes();
}

ServiceServer::~ServiceServer() = default;

int ServiceServer::Bind()
{
    server_->set_socket_options([this](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        listenSocket_ = sock;
    });
    const int port = config_.port == 0 ? server_->bind_to_any_port(config_.listen)
                                       : (server_->bind_to_port(config_.listen, config_.port) ? config_.port : -1);
    // The HTTP library listens with a backlog of 5: dozens of broadcasters connecting at once
    // would overflow it and lose connections. Listening again on the socket raises the backlog.
    if (port >= 0 && listenSocket_ >= 0) ::listen(listenSocket_, kListenBacklog);
    return port;
}

bool ServiceServer::Run()
{
    return server_->listen_after_bind();
}

void ServiceServer::Stop()
{
    server_->stop();
}

void ServiceServer::Routes()
{
    auto& s = *server_;
    auto bind = [this](void (ServiceServer::*handler)(const httplib::Request&, httplib::Response&)) {
        return [this, handler](const httplib::Request& req, httplib::Response& res) {
            (this->*handler)(req, res);
        };
    };

    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        // A POST without Content-Length carries no body (RFC 9112), but the HTTP library would
        // answer it with 400. The broadcaster's body-less requests are answered here instead.
        if (req.method == "POST" && !req.has_header("Content-Length") && !req.has_header("Transfer-Encoding")) {
            if (req.path == "/api/end") {
                EndNotice(req, res);
                return httplib::Server::HandlerResponse::Handled;
            }
            if (req.path == "/api/games") {
                GameList(req, res);
                return httplib::Server::HandlerResponse::Handled;
            }
        }
        const auto methods = AllowedMethods(req.path);
        if (methods.empty()) return httplib::Server::HandlerResponse::Unhandled;
        const bool getLike = req.method == "HEAD" && std::find(methods.begin(), methods.end(), "GET") != methods.end();
        if (getLike || std::find(methods.begin(), methods.end(), req.method) != methods.end()) {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        std::string allow;
        for (const auto& method : methods) allow += (allow.empty() ? "" : ", ") + method;
        res.set_header("Allow", allow);
        Plain(res, "method not allowed\n", 405);
        return httplib::Server::HandlerResponse::Handled;
    });
    s.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            res.set_content(res.status == 404   ? "not found\n"
                            : res.status == 413 ? "request too large\n"
                                                : "request refused (" + std::to_string(res.status) + ")\n",
                            kText);
        }
    });
    s.set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        std::fprintf(stderr, "strimo-service: %s %s failed: %s\n", req.method.c_str(), req.path.c_str(),
                     what.c_str());
        Plain(res, "internal error\n", 500);
    });

    s.Post("/api/login", bind(&ServiceServer::Login));
    s.Post("/api/games", bind(&ServiceServer::GameList));
    s.Get("/api/games", bind(&ServiceServer::GameList));
    s.Post("/api/stream", bind(&ServiceServer::StreamInfo));
    s.Post("/api/end", bind(&ServiceServer::EndNotice));
    s.Get("/api/room", bind(&ServiceServer::RoomState));
    // The broadcaster posts to the part of each configured address from its last "/" on
    // ("/api/login" reaches us as "/login"), on the connection of its login.
    s.Post("/login", bind(&ServiceServer::Login));
    s.Post("/games", bind(&ServiceServer::GameList));
    s.Post("/stream", bind(&ServiceServer::StreamInfo));
    s.Post("/end", bind(&ServiceServer::EndNotice));
    s.Post("/rtmp/publish", bind(&ServiceServer::OnPublish));
    s.Post("/rtmp/publish_done", bind(&ServiceServer::OnPublishDone));

    s.Get("/", bind(&ServiceServer::HomePage));
    s.Get("/live/", bind(&ServiceServer::LiveList));
    s.Get("/live/room", bind(&ServiceServer::RoomPage));
    s.Get(R"(/+index\.php)", bind(&ServiceServer::MemberApi));
    s.Post(R"(/+index\.php)", bind(&ServiceServer::MemberApi));
    s.Get("/member/", bind(&ServiceServer::MemberCentre));
    s.Post("/member/login", bind(&ServiceServer::MemberLogin));
    s.Post("/member/password", bind(&ServiceServer::ChangePassword));
    s.Get("/forum/", bind(&ServiceServer::Forum));
    s.Post("/forum/", bind(&ServiceServer::ForumPost));
    s.Get("/update/", bind(&ServiceServer::UpdatePage));

    s.Get("/updata/check", bind(&ServiceServer::UpdateCheck));
    s.Get(R"(/updata/(.+))", bind(&ServiceServer::UpdateFile));
    s.Get(R"(/hls/room-(\d{1,18})\.m3u8)", bind(&ServiceServer::HlsPlaylist));
    s.Get(R"(/hls/room-(\d{1,18})-(\d{1,18})\.ts)", bind(&ServiceServer::HlsSegment));
    s.Get(R"(/static/([A-Za-z0-9_][A-Za-z0-9_.-]{0,63}))", bind(&ServiceServer::StaticFile));
}

// ---- sessions and accounts ----

std::optional<ServiceStore::User> ServiceServer::SessionOf(const httplib::Request& req)
{
    const std::string cookies = req.get_header_value("Cookie");
    const std::string key = std::string(kSessionCookie) + "=";
    size_t pos = 0;
    while (pos < cookies.size()) {
        while (pos < cookies.size() && (cookies[pos] == ' ' || cookies[pos] == ';')) ++pos;
        const size_t end = std::min(cookies.find(';', pos), cookies.size());
        const std::string_view item = std::string_view(cookies).substr(pos, end - pos);
        if (item.substr(0, key.size()) == key) {
            const std::string token(item.substr(key.size()));
            if (token.size() == 64 && std::all_of(token.begin(), token.end(), [](char c) {
                    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                })) {
                if (auto user = store_.SessionUser(PasswordHash::Sha256Hex(token))) return user;
            }
        }
        pos = end + 1;
    }
    return std::nullopt;
}

void ServiceServer::StartSession(httplib::Response& res, int64_t userId)
{
    const std::string token = PasswordHash::RandomHex(32);
    store_.CreateSession(userId, PasswordHash::Sha256Hex(token));
    const bool secure = config_.webUrl.rfind("https://", 0) == 0;
    res.set_header("Set-Cookie", std::string(kSessionCookie) + "=" + token + "; Path=/; Max-Age=" +
                                     std::to_string(ServiceStore::kSessionDays * 86400) +
                                     "; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : ""));
}

std::optional<ServiceStore::User> ServiceServer::CheckPassword(const std::string& name,
                                                              const std::string& password)
{
    if (name.size() > 64 || password.size() > 256) return std::nullopt;
    auto user = store_.FindUser(name);
    if (!user) {
        PasswordHash::Verify(password, dummyHash_);
        return std::nullopt;
    }
    if (!PasswordHash::Verify(password, user->passwordHash)) return std::nullopt;
    return user;
}

bool ServiceServer::FromCallbackAddress(const httplib::Request& req) const
{
    return std::find(config_.callbackFrom.begin(), config_.callbackFrom.end(), req.remote_addr) !=
           config_.callbackFrom.end();
}

// ---- the broadcaster's exchanges ----

void ServiceServer::Login(const httplib::Request& req, httplib::Response& res)
{
    const auto form = FormData::Parse(req.body);
    const auto name = form.Get("username");
    const auto password = form.Get("password");
    std::optional<ServiceStore::User> user;
    if (name && password) user = CheckPassword(*name, *password);
    if (!user) {
        Plain(res, "0");
        return;
    }
    StartSession(res, user->id);
    Plain(res, "1");
}

void ServiceServer::GameList(const httplib::Request&, httplib::Response& res)
{
    Json::Value list(Json::arrayValue);
    for (const auto& game : store_.Games()) {
        Json::Value item;
        item["gname"] = game.gname;
        item["gid"] = game.gid;
        list.append(item);
    }
    res.set_content(ToJson(list), kJson);
}

void ServiceServer::StreamInfo(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    if (!user) {
        res.status = 401;
        res.set_content(R"({"error":"not logged in"})", kJson);
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
                                          req.remote_addr);
    Json::Value reply;
    reply["pipName"] = stream;
    reply["pipUrl"] = config_.rtmpUrl;
    reply["lid"] = std::to_string(lid);
    res.set_content(ToJson(reply), kJson);
}

void ServiceServer::EndNotice(const httplib::Request& req, httplib::Response& res)
{
    // The broadcaster sends the notice on a fresh session (no cookie), so the session cannot
    // vouch for it. The room's lid is public (it is in every room page address), so neither can
    // the lid alone: the notice must come from the address that asked for the room.
    const std::string lid = Query(req).GetTrimmed("lid").value_or("");
    if (!TextRules::IsId(lid)) {
        Plain(res, "0", 400);
        return;
    }
    switch (store_.EndByNotice(std::stoll(lid), req.remote_addr)) {
    case ServiceStore::EndResult::Ended:
    case ServiceStore::EndResult::AlreadyEnded: Plain(res, "1"); break;
    case ServiceStore::EndResult::NotFound: Plain(res, "0", 404); break;
    case ServiceStore::EndResult::NotOwner: Plain(res, "0", 403); break;
    }
}

void ServiceServer::RoomState(const httplib::Request& req, httplib::Response& res)
{
    const std::string lid = Query(req).GetTrimmed("lid").value_or("");
    const auto room = TextRules::IsId(lid) ? store_.FindRoom(std::stoll(lid)) : std::nullopt;
    if (!room) {
        res.status = 404;
        res.set_content(R"({"error":"no such room"})", kJson);
        return;
    }
    Json::Value reply;
    reply["lid"] = std::to_string(room->lid);
    reply["state"] = StateText(*room);
    reply["title"] = room->title;
    reply["game"] = room->gameName;
    reply["member"] = room->userName;
    reply["playlist"] = "/hls/room-" + std::to_string(room->lid) + ".m3u8";
    res.set_header("Cache-Control", "no-store");
    res.set_content(ToJson(reply), kJson);
}

void ServiceServer::OnPublish(const httplib::Request& req, httplib::Response& res)
{
    if (!FromCallbackAddress(req)) {
        Plain(res, "refused\n", 403);
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
        Plain(res, "ok\n");
        return;
    }
    // Any non-2xx answer makes the streaming server refuse the publish.
    Plain(res, "refused\n", 403);
}

void ServiceServer::OnPublishDone(const httplib::Request& req, httplib::Response& res)
{
    if (!FromCallbackAddress(req)) {
        Plain(res, "refused\n", 403);
        return;
    }
    const auto form = FormData::Parse(req.body);
    const std::string name = form.Get("name").value_or("");
    if (!name.empty() && name.size() <= 64) store_.PublishDone(name);
    Plain(res, "ok\n");
}

// ---- pages ----

void ServiceServer::HomePage(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    const auto live = store_.LiveRooms();
    std::string body =
        "<p>STRIMO直播让会员把自己电脑上正在玩的游戏直播给其他玩家。"
        "安装 STRIMO 直播客户端，用会员账号登录，选择游戏，写一句介绍，就可以开始直播。</p>\n"
        "<p class=\"actions\"><a class=\"button\" href=\"/live/\">观看直播（" +
        std::to_string(live.size()) +
        " 个房间）</a> <a class=\"button\" href=\"/index.php?m=member&amp;c=index&amp;a=register\">注册会员</a> "
        "<a class=\"button\" href=\"/update/\">下载与更新</a></p>\n";
    Html(res, HtmlPage::Render("首页", body, user ? user->name : ""));
}

void ServiceServer::LiveList(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    const auto rooms = store_.LiveRooms();
    std::string body;
    if (rooms.empty()) {
        body = "<p>现在没有正在进行的直播。开始直播后，房间会出现在这里。</p>\n";
    } else {
        body = "<ul class=\"rooms\">\n";
        for (const auto& room : rooms) {
            body += "<li><a href=\"/live/room?lid=" + std::to_string(room.lid) + "\">" +
                    HtmlPage::Escape(RoomTitle(room)) + "</a> <span class=\"meta\">" +
                    HtmlPage::Escape(room.gameName) + " · " + HtmlPage::Escape(room.userName) +
                    "</span></li>\n";
        }
        body += "</ul>\n";
    }
    res.set_header("Cache-Control", "no-store");
    Html(res, HtmlPage::Render("正在直播", body, user ? user->name : "",
                               "<meta http-equiv=\"refresh\" content=\"30\">\n"));
}

void ServiceServer::RoomPage(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    const std::string lid = Query(req).GetTrimmed("lid").value_or("");
    const auto room = TextRules::IsId(lid) ? store_.FindRoom(std::stoll(lid)) : std::nullopt;
    if (!room) {
        Html(res, HtmlPage::Render("没有这个直播间", "<p>这个直播间不存在。<a href=\"/live/\">看看正在进行的直播</a></p>",
                                   user ? user->name : ""),
             404);
        return;
    }
    const std::string id = std::to_string(room->lid);
    std::string body =
        "<p class=\"meta\">" + HtmlPage::Escape(room->gameName) + " · 主播 " +
        HtmlPage::Escape(room->userName) + "</p>\n"
        "<div class=\"player\"><video id=\"player\" controls muted autoplay playsinline></video></div>\n"
        "<p id=\"status\" class=\"status\"></p>\n"
        "<p class=\"meta\">分享这个直播间：<code>" + HtmlPage::Escape(config_.webUrl) + "/live/room?lid=" + id + "</code></p>\n"
        "<script src=\"/static/hls.min.js\"></script>\n"
        "<script src=\"/static/room.js\" data-lid=\"" + id + "\"></script>\n";
    res.set_header("Cache-Control", "no-store");
    Html(res, HtmlPage::Render(RoomTitle(*room), body, user ? user->name : ""));
}

void ServiceServer::MemberApi(const httplib::Request& req, httplib::Response& res)
{
    const auto query = Query(req);
    const std::string action = query.Get("a").value_or("");
    if (query.Get("m").value_or("") != "member" || query.Get("c").value_or("") != "index") {
        Html(res, HtmlPage::Render("找不到页面", "<p>没有这个页面。</p>"), 404);
        return;
    }
    if (action == "register") {
        if (req.method == "POST") {
            Register(req, res);
        } else {
            RegisterPage(req, res, {});
        }
    } else if (action == "public_forget_password") {
        ForgotPasswordPage(req, res);
    } else if (action == "member_goto_api") {
        // The broadcaster's information page opens this with the member's name and password in
        // the address. Log the browser in and move on to an address without the password.
        const auto user = CheckPassword(query.Get("username").value_or(""), query.Get("password").value_or(""));
        const std::string page = query.Get("p").value_or("1") == "2" ? "2" : "1";
        if (!user) {
            Html(res, HtmlPage::Render("会员中心", "<p class=\"error\">用户名或密码不对。</p>"
                                       "<p><a href=\"/member/?p=" + page + "\">重新登录</a></p>"),
                 403);
            return;
        }
        StartSession(res, user->id);
        SeeOther(res, "/member/?p=" + page);
    } else {
        Html(res, HtmlPage::Render("找不到页面", "<p>没有这个页面。</p>"), 404);
    }
}

void ServiceServer::RegisterPage(const httplib::Request& req, httplib::Response& res, const std::string& error)
{
    const auto user = SessionOf(req);
    std::string body;
    if (!error.empty()) body += "<p class=\"error\">" + HtmlPage::Escape(error) + "</p>\n";
    body +=
        "<form method=\"post\" action=\"/index.php?m=member&amp;c=index&amp;a=register\">\n"
        "<label>用户名 <input name=\"username\" required minlength=\"2\" maxlength=\"32\" autocomplete=\"username\"></label>\n"
        "<p class=\"hint\">2 到 32 个字节：字母、数字、汉字、“_”、“-”、“.”。</p>\n"
        "<label>密码 <input name=\"password\" type=\"password\" required minlength=\"6\" maxlength=\"128\" autocomplete=\"new-password\"></label>\n"
        "<label>再输一次密码 <input name=\"password2\" type=\"password\" required minlength=\"6\" maxlength=\"128\" autocomplete=\"new-password\"></label>\n"
        "<button type=\"submit\">注册</button>\n</form>\n";
    Html(res, HtmlPage::Render("注册会员", body, user ? user->name : ""), error.empty() ? 200 : 400);
}

void ServiceServer::Register(const httplib::Request& req, httplib::Response& res)
{
    const auto form = FormData::Parse(req.body);
    const std::string name = form.Get("username").value_or("");
    const std::string password = form.Get("password").value_or("");
    if (!TextRules::IsValidUserName(name)) {
        RegisterPage(req, res, "用户名不符合要求。");
        return;
    }
    if (!TextRules::IsValidPassword(password)) {
        RegisterPage(req, res, "密码要 6 到 128 个字节，不能有控制字符。");
        return;
    }
    if (form.Get("password2").value_or("") != password) {
        RegisterPage(req, res, "两次输入的密码不一样。");
        return;
    }
    if (store_.AddUser(name, PasswordHash::Make(password, config_.hashIterations)) ==
        ServiceStore::AddUserResult::Exists) {
        RegisterPage(req, res, "这个用户名已经有人用了。");
        return;
    }
    const auto user = store_.FindUser(name);
    if (user) StartSession(res, user->id);
    Html(res, HtmlPage::Render("注册成功",
                               "<p>欢迎，" + HtmlPage::Escape(name) +
                                   "！现在可以用这个用户名和密码登录 STRIMO 直播客户端了。</p>"
                                   "<p><a href=\"/member/?p=1\">进入会员中心</a></p>",
                               name));
}

void ServiceServer::ForgotPasswordPage(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    const std::string body =
        "<p>为了安全，服务只保存密码的加盐散列值，没有人能查出您原来的密码。</p>\n"
        "<p>请联系本站的管理员（也可以在<a href=\"/forum/\">论坛</a>发帖说明您的用户名），"
        "管理员核实身份后会为您设置一个新密码。</p>\n"
        "<p class=\"hint\">管理员在服务器上执行：<code>strimo-service set-password --data 数据目录 用户名</code>，"
        "然后在标准输入里输入新密码。</p>\n";
    Html(res, HtmlPage::Render("忘记密码", body, user ? user->name : ""));
}

void ServiceServer::MemberCentre(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    const std::string page = Query(req).Get("p").value_or("1") == "2" ? "2" : "1";
    if (!user) {
        const std::string body =
            "<form method=\"post\" action=\"/member/login\">\n"
            "<input type=\"hidden\" name=\"p\" value=\"" + page + "\">\n"
            "<label>用户名 <input name=\"username\" required autocomplete=\"username\"></label>\n"
            "<label>密码 <input name=\"password\" type=\"password\" required autocomplete=\"current-password\"></label>\n"
            "<button type=\"submit\">登录</button>\n</form>\n"
            "<p><a href=\"/index.php?m=member&amp;c=index&amp;a=register\">注册会员</a> · "
            "<a href=\"/index.php?m=member&amp;c=index&amp;a=public_forget_password\">忘记密码</a></p>\n";
        Html(res, HtmlPage::Render("会员登录", body));
        return;
    }
    std::string body =
        "<p class=\"tabs\"><a href=\"/member/?p=1\">我的账号</a> · <a href=\"/member/?p=2\">我的直播</a></p>\n";
    if (page == "1") {
        body += "<p>用户名：" + HtmlPage::Escape(user->name) + "</p>\n<p>注册时间：" +
                HtmlPage::Time(user->created) + "（UTC）</p>\n"
                "<h2>修改密码</h2>\n<form method=\"post\" action=\"/member/password\">\n"
                "<label>原密码 <input name=\"old\" type=\"password\" required autocomplete=\"current-password\"></label>\n"
                "<label>新密码 <input name=\"password\" type=\"password\" required minlength=\"6\" maxlength=\"128\" autocomplete=\"new-password\"></label>\n"
                "<button type=\"submit\">修改</button>\n</form>\n";
    } else {
        const auto rooms = store_.RoomsOfUser(user->id, 50);
        if (rooms.empty()) body += "<p>您还没有直播过。</p>\n";
        body += "<ul class=\"rooms\">\n";
        for (const auto& room : rooms) {
            body += "<li><a href=\"/live/room?lid=" + std::to_string(room.lid) + "\">" +
                    HtmlPage::Escape(RoomTitle(room)) + "</a> <span class=\"meta\">" +
                    HtmlPage::Escape(room.gameName) + " · " + HtmlPage::Time(room.created) + " · " +
                    (room.state == ServiceStore::RoomState::Live ? "直播中" :
                     room.state == ServiceStore::RoomState::Issued ? "未开始" : "已结束") +
                    "</span></li>\n";
        }
        body += "</ul>\n";
    }
    Html(res, HtmlPage::Render("会员中心", body, user->name));
}

void ServiceServer::MemberLogin(const httplib::Request& req, httplib::Response& res)
{
    const auto form = FormData::Parse(req.body);
    const auto user = CheckPassword(form.Get("username").value_or(""), form.Get("password").value_or(""));
    const std::string page = form.Get("p").value_or("1") == "2" ? "2" : "1";
    if (!user) {
        Html(res, HtmlPage::Render("会员登录", "<p class=\"error\">用户名或密码不对。</p>"
                                   "<p><a href=\"/member/?p=" + page + "\">重新登录</a></p>"),
             403);
        return;
    }
    StartSession(res, user->id);
    SeeOther(res, "/member/?p=" + page);
}

void ServiceServer::ChangePassword(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    if (!user) {
        SeeOther(res, "/member/?p=1");
        return;
    }
    const auto form = FormData::Parse(req.body);
    const std::string password = form.Get("password").value_or("");
    std::string message;
    int status = 200;
    if (!CheckPassword(user->name, form.Get("old").value_or(""))) {
        message = "原密码不对，密码没有改。";
        status = 403;
    } else if (!TextRules::IsValidPassword(password)) {
        message = "新密码要 6 到 128 个字节，不能有控制字符。";
        status = 400;
    } else {
        store_.SetPasswordHash(user->name, PasswordHash::Make(password, config_.hashIterations));
        StartSession(res, user->id);  // the old sessions ended with the old password
        message = "密码已经改好了。客户端下次登录请用新密码。";
    }
    Html(res, HtmlPage::Render("修改密码", "<p>" + HtmlPage::Escape(message) +
                                           "</p><p><a href=\"/member/?p=1\">返回会员中心</a></p>",
                               user->name),
         status);
}

void ServiceServer::Forum(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    std::string body = "<p>有问题、建议，或者想找人一起玩？在这里发帖，客服人员会在 1-3 个工作日内回帖。</p>\n";
    if (user) {
        body += "<form method=\"post\" action=\"/forum/\">\n<textarea name=\"text\" rows=\"4\" maxlength=\"2000\" required></textarea>\n"
                "<button type=\"submit\">发帖</button>\n</form>\n";
    } else {
        body += "<p><a href=\"/member/\">登录</a>后可以发帖。</p>\n";
    }
    body += "<ul class=\"posts\">\n";
    for (const auto& post : store_.Posts(100)) {
        body += "<li><div class=\"meta\">" + HtmlPage::Escape(post.userName) + " · " +
                HtmlPage::Time(post.created) + "</div><div class=\"text\">" +
                HtmlPage::Escape(post.text) + "</div></li>\n";
    }
    body += "</ul>\n";
    Html(res, HtmlPage::Render("论坛", body, user ? user->name : ""));
}

void ServiceServer::ForumPost(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    if (!user) {
        SeeOther(res, "/member/");
        return;
    }
    const std::string text =
        TextRules::Clean(FormData::Parse(req.body).GetTrimmed("text").value_or(""), kPostBytes, true);
    if (!text.empty()) store_.AddPost(user->id, text);
    SeeOther(res, "/forum/");
}

void ServiceServer::UpdatePage(const httplib::Request& req, httplib::Response& res)
{
    const auto user = SessionOf(req);
    std::ifstream in(std::filesystem::path(config_.updateDir) / UpdateDescription::kFileName);
    std::string description((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The description is ours (make-update): its root begins <updata version="N">.
    const std::string mark = "<updata version=\"";
    const size_t at = description.find(mark);
    const size_t end = at == std::string::npos ? at : description.find('"', at + mark.size());
    std::string version = end == std::string::npos ? std::string{} : description.substr(at + mark.size(), end - at - mark.size());
    std::string body;
    if (TextRules::IsId(version)) {
        body += "<p>最新版本：<strong>" + version + "</strong></p>\n";
    } else {
        body += "<p>现在没有可以下载的更新。</p>\n";
    }
    body +=
        "<p>更新的方法：关闭 STRIMO 直播客户端，运行安装目录里的 <code>StrimoUpdata</code>。"
        "它会检查新版本、下载并替换文件，然后重新启动客户端。</p>\n"
        "<p class=\"hint\">更新主机：<code>" + HtmlPage::Escape(config_.webUrl) +
        "</code>，路径 <code>/updata</code>，检查页 <code>check</code>，更新说明 <code>updata.xml</code>。</p>\n";
    Html(res, HtmlPage::Render("下载与更新", body, user ? user->name : ""));
}

// ---- files ----

void ServiceServer::UpdateCheck(const httplib::Request&, httplib::Response& res)
{
    // "1" tells the updater the update host is there and has a description to offer.
    std::error_code ec;
    const bool ready = std::filesystem::is_regular_file(
        std::filesystem::path(config_.updateDir) / UpdateDescription::kFileName, ec);
    res.set_header("Cache-Control", "no-store");
    Plain(res, ready ? "1\n" : "0\n");
}

void ServiceServer::UpdateFile(const httplib::Request& req, httplib::Response& res)
{
    const std::string path = req.matches[1].str();
    if (!UpdateDescription::IsSafeRelativePath(path) ||
        !ServeFile(res, std::filesystem::path(config_.updateDir) / path, ContentTypeOf(path))) {
        Plain(res, "not found\n", 404);
        return;
    }
    res.set_header("Cache-Control", "no-cache");
}

void ServiceServer::HlsPlaylist(const httplib::Request& req, httplib::Response& res)
{
    // Viewers see a room only by its public id; the stream name is the publisher's secret.
    const auto room = store_.FindRoom(std::stoll(req.matches[1].str()));
    std::error_code ec;
    const auto file = std::filesystem::path(config_.hlsDir) / (room ? room->stream + ".m3u8" : "");
    if (!room || room->state != ServiceStore::RoomState::Live || !std::filesystem::is_regular_file(file, ec) ||
        std::filesystem::file_size(file, ec) > kPlaylistBytes) {
        Plain(res, "not found\n", 404);
        return;
    }
    std::ifstream in(file, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string alias = "room-" + std::to_string(room->lid);
    for (size_t pos = 0; (pos = text.find(room->stream, pos)) != std::string::npos; pos += alias.size()) {
        text.replace(pos, room->stream.size(), alias);
    }
    res.set_header("Cache-Control", "no-cache");
    res.set_content(text, "application/vnd.apple.mpegurl");
}

void ServiceServer::HlsSegment(const httplib::Request& req, httplib::Response& res)
{
    const auto room = store_.FindRoom(std::stoll(req.matches[1].str()));
    if (!room || room->state == ServiceStore::RoomState::Issued ||
        !ServeFile(res, std::filesystem::path(config_.hlsDir) / (room->stream + "-" + req.matches[2].str() + ".ts"),
                   "video/mp2t")) {
        Plain(res, "not found\n", 404);
        return;
    }
    res.set_header("Cache-Control", "max-age=60");
}

void ServiceServer::StaticFile(const httplib::Request& req, httplib::Response& res)
{
    const std::string name = req.matches[1].str();
    const std::filesystem::path file =
        name == "hls.min.js" ? std::filesystem::path(config_.hlsJs) : std::filesystem::path(config_.webRoot) / name;
    if (!ServeFile(res, file, ContentTypeOf(name))) {
        Plain(res, "not found\n", 404);
        return;
    }
    res.set_header("Cache-Control", "max-age=300");
}
