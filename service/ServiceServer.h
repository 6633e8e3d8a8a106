#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ServiceConfig.h"
#include "ServiceStore.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

// The reference service's HTTP side: the broadcaster's exchanges (login, game list, stream
// information, end notice), the member pages it opens, the live rooms with their player, the
// streaming server's publish callbacks and the updater's update host.
class ServiceServer {
public:
    ServiceServer(ServiceConfig config, ServiceStore& store);
    ~ServiceServer();
    ServiceServer(const ServiceServer&) = delete;
    ServiceServer& operator=(const ServiceServer&) = delete;

    // Binds the configured address and port (0 picks a free one). Returns the port, -1 on failure.
    int Bind();

    // Serves on the bound socket until Stop(). False when it could not serve.
    bool Run();

    // Ends Run() from any thread; requests under way are finished first.
    void Stop();

    static constexpr const char* kSessionCookie = "STRIMOSESSION";

private:
    void Routes();

    // Broadcaster exchanges and streaming callbacks.
    void Login(const httplib::Request& req, httplib::Response& res);
    void GameList(const httplib::Request& req, httplib::Response& res);
    void StreamInfo(const httplib::Request& req, httplib::Response& res);
    void EndNotice(const httplib::Request& req, httplib::Response& res);
    void RoomState(const httplib::Request& req, httplib::Response& res);
    void OnPublish(const httplib::Request& req, httplib::Response& res);
    void OnPublishDone(const httplib::Request& req, httplib::Response& res);

    // Pages.
    void HomePage(const httplib::Request& req, httplib::Response& res);
    void LiveList(const httplib::Request& req, httplib::Response& res);
    void RoomPage(const httplib::Request& req, httplib::Response& res);
    void MemberApi(const httplib::Request& req, httplib::Response& res);
    void RegisterPage(const httplib::Request& req, httplib::Response& res, const std::string& error);
    void Register(const httplib::Request& req, httplib::Response& res);
    void ForgotPasswordPage(const httplib::Request& req, httplib::Response& res);
    void MemberCentre(const httplib::Request& req, httplib::Response& res);
    void MemberLogin(const httplib::Request& req, httplib::Response& res);
    void ChangePassword(const httplib::Request& req, httplib::Response& res);
    void Forum(const httplib::Request& req, httplib::Response& res);
    void ForumPost(const httplib::Request& req, httplib::Response& res);
    void UpdatePage(const httplib::Request& req, httplib::Response& res);

    // Files: the update host, HLS under room ids, static files.
    void UpdateCheck(const httplib::Request& req, httplib::Response& res);
    void UpdateFile(const httplib::Request& req, httplib::Response& res);
    void HlsPlaylist(const httplib::Request& req, httplib::Response& res);
    void HlsSegment(const httplib::Request& req, httplib::Response& res);
    void StaticFile(const httplib::Request& req, httplib::Response& res);

    std::optional<ServiceStore::User> SessionOf(const httplib::Request& req);
    void StartSession(httplib::Response& res, int64_t userId);
    std::optional<ServiceStore::User> CheckPassword(const std::string& name, const std::string& password);
    bool FromCallbackAddress(const httplib::Request& req) const;

    ServiceConfig config_;
    ServiceStore& store_;
    std::unique_ptr<httplib::Server> server_;
    int listenSocket_ = -1;
    std::string dummyHash_;  // verified against for unknown names, so timing tells nothing
};
