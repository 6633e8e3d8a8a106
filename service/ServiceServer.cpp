#include "ServiceServer.h"

#include <httplib.h>

#include <sys/socket.h>

#include <algorithm>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

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
    server_->set_read_timeout(10);
    server_->set_write_timeout(10);
    Dispatch();
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
    return port;
}

bool ServiceServer::Run()
{
    const bool served = stopRequested_ || server_->listen_after_bind();
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

void ServiceServer::Dispatch()
{
    server_->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
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
