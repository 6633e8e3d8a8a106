#include "ServiceServer.h"

#include <httplib.h>

#include <openssl/crypto.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "FormData.h"
#include "HttpReply.h"

namespace {

constexpr int kListenBacklog = 1024;

// The methods a known path answers (empty for unknown paths); any other method gets 405.
std::vector<std::string> AllowedMethods(const std::string& path)
{
    auto under = [&](std::string_view prefix) {
        return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0;
    };
    const size_t slashes = path.find_first_not_of('/');
    const bool indexPage = slashes != std::string::npos && slashes > 0 && path.substr(slashes) == "index.php";
    if (path == "/api/login" || path == "/api/stream" || path == "/api/end" || path == "/rtmp/publish" ||
        path == "/rtmp/publish_done" || path == "/member/login" || path == "/member/password" ||
        path == "/member/logout") {
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
    : config_(std::move(config)),
      sessions_(config_, store),
      broadcasterApi_(config_, store, sessions_),
      livePages_(config_, store, sessions_),
      memberPages_(config_, store, sessions_),
      updateHost_(config_, sessions_),
      media_(config_, store),
      staticFiles_(config_),
      server_(std::make_unique<httplib::Server>())
{
    const size_t threads = static_cast<size_t>(config_.threads);
    server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
    server_->set_payload_max_length(config_.maxBody);
    server_->set_keep_alive_timeout(5);
    // nginx keeps a few connections to us open and sends request after request on them. The
    // HTTP library writes a reply's header and body apart: without TCP_NODELAY the body would
    // wait for nginx's delayed acknowledgement of the header (40 ms) on such a connection.
    server_->set_keep_alive_max_count(1000);
    server_->set_tcp_nodelay(true);
    server_->set_read_timeout(10);
    server_->set_write_timeout(10);
    Dispatch();
    if (config_.callbackPort >= 0) {
        callbacks_ = std::make_unique<httplib::Server>();
        const size_t callbackThreads = static_cast<size_t>(config_.callbackThreads);
        callbacks_->new_task_queue = [callbackThreads] { return new httplib::ThreadPool(callbackThreads); };
        callbacks_->set_payload_max_length(config_.maxBody);
        callbacks_->set_read_timeout(5);
        callbacks_->set_write_timeout(5);
        broadcasterApi_.RegisterCallbacks(*callbacks_);
    }
    for (RouteGroup* group : std::initializer_list<RouteGroup*>{&broadcasterApi_, &livePages_, &memberPages_,
                                                              &updateHost_, &media_, &staticFiles_}) {
        group->Register(*server_);
    }
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
    if (port >= 0 && callbacks_) {
        callbacks_->set_socket_options([this](int sock) {
            const int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
            callbackSocket_ = sock;
        });
        callbackPort_ = config_.callbackPort == 0
                            ? callbacks_->bind_to_any_port(config_.listen)
                            : (callbacks_->bind_to_port(config_.listen, config_.callbackPort) ? config_.callbackPort : -1);
        if (callbackPort_ < 0) return -1;
        if (callbackSocket_ >= 0) ::listen(callbackSocket_, kListenBacklog);
    }
    return port;
}

bool ServiceServer::Run()
{
    std::thread callbackThread;
    if (callbacks_ && callbackPort_ >= 0) callbackThread = std::thread([this] { callbacks_->listen_after_bind(); });
    const bool served = stopRequested_ || server_->listen_after_bind();
    if (callbackThread.joinable()) {
        // As in Stop(): the listener may not have reached its accept loop yet, and a shut-down
        // socket ends that loop whenever it starts.
        ::shutdown(callbackSocket_, SHUT_RDWR);
        callbacks_->stop();
        callbackThread.join();
    }
    std::lock_guard lock(stopMutex_);
    listenSocket_ = -1;
    return served || stopRequested_;
}

void ServiceServer::Stop()
{
    std::lock_guard lock(stopMutex_);
    stopRequested_ = true;
    if (server_->is_running()) {
        server_->stop();
    } else if (listenSocket_ >= 0) {
        // The HTTP library ignores a stop before its accept loop runs, so a signal that came
        // right after binding would be lost and the service would never end. Shutting the socket
        // down makes that loop's first accept fail, and it returns at once.
        ::shutdown(listenSocket_, SHUT_RDWR);
    }
}

std::string ServiceServer::Refusal(const httplib::Request& req) const
{
    if (!config_.frontSecret.empty()) {
        const std::string secret = req.get_header_value("X-Strimo-Front");
        if (secret.size() != config_.frontSecret.size() ||
            CRYPTO_memcmp(secret.data(), config_.frontSecret.data(), secret.size()) != 0) {
            return "not through the front";
        }
    }
    // Browsers say where a request comes from; the broadcaster and the updater send neither
    // header. A page of another site must not post a log-in, a password, a forum post or an end
    // notice in a visitor's name, nor log the visitor in through the link the broadcaster opens.
    const std::string site = req.get_header_value("Sec-Fetch-Site");
    const bool changesState = req.method == "POST" ||
                              FormData::ParseQuery(req.target).Get("a").value_or("") == "member_goto_api";
    if (!changesState) return {};
    if (!site.empty() && site != "same-origin" && site != "none") return "cross-site request refused";
    if (req.has_header("Origin")) {
        const std::string origin = req.get_header_value("Origin");
        const std::string host = req.get_header_value("Host");
        if (origin != config_.webUrl && (host.empty() || (origin != "http://" + host && origin != "https://" + host))) {
            return "cross-site request refused";
        }
    }
    return {};
}

void ServiceServer::Dispatch()
{
    server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (const std::string why = Refusal(req); !why.empty()) {
            HttpReply::Plain(res, why + "\n", 403);
            return httplib::Server::HandlerResponse::Handled;
        }
        // A POST without Content-Length carries no body (RFC 9112), but the HTTP library would
        // answer it with 400. The broadcaster's body-less requests are answered here instead.
        if (req.method == "POST" && !req.has_header("Content-Length") && !req.has_header("Transfer-Encoding") &&
            broadcasterApi_.AnswerBodyless(req, res)) {
            return httplib::Server::HandlerResponse::Handled;
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
        HttpReply::Plain(res, "method not allowed\n", 405);
        return httplib::Server::HandlerResponse::Handled;
    });
    server_->set_post_routing_handler([](const httplib::Request&, httplib::Response& res) {
        // Pages, and the files they load; the programs' own exchanges stay as they were.
        const std::string type = res.get_header_value("Content-Type");
        if (type.rfind("text/html", 0) == 0) {
            res.set_header("Content-Security-Policy", kContentPolicy);
            res.set_header("X-Frame-Options", "DENY");
            if (!res.has_header("Referrer-Policy")) res.set_header("Referrer-Policy", "same-origin");
        }
        if (type.rfind("text/html", 0) == 0 || type.rfind("text/css", 0) == 0 || type.rfind("text/javascript", 0) == 0) {
            res.set_header("X-Content-Type-Options", "nosniff");
        }
    });
    server_->set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty()) {
            res.set_content(res.status == 404   ? "not found\n"
                            : res.status == 413 ? "request too large\n"
                                                : "request refused (" + std::to_string(res.status) + ")\n",
                            HttpReply::kText);
        }
    });
    server_->set_exception_handler([](const httplib::Request& req, httplib::Response& res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            if (ep) std::rethrow_exception(ep);
        } catch (const std::exception& e) {
            what = e.what();
        } catch (...) {
        }
        std::fprintf(stderr, "strimo-service: %s %s failed: %s\n", req.method.c_str(), req.path.c_str(),
                     what.c_str());
        HttpReply::Plain(res, "internal error\n", 500);
    });
}
