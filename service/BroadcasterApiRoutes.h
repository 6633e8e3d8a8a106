#pragma once

#include "MemberSessions.h"
#include "RouteGroup.h"
#include "ServiceConfig.h"
#include "ServiceStore.h"

// The broadcaster's exchanges (log-in, game list, stream request, end notice), under /api and
// under the short paths it also posts to; the room state the room page polls; and the streaming
// server's publish callbacks, which let a stream name in and mark its room live or ended.
class BroadcasterApiRoutes : public RouteGroup {
public:
    BroadcasterApiRoutes(const ServiceConfig& config, ServiceStore& store, MemberSessions& sessions);

    void Register(httplib::Server& server) override;

    // Only the streaming server's publish callbacks, for a listener of their own.
    void RegisterCallbacks(httplib::Server& server);

    // Answers the exchanges the broadcaster sends as a POST without a body or Content-Length
    // (the end notice, the game list), which the HTTP library would refuse. False for others.
    bool AnswerBodyless(const httplib::Request& req, httplib::Response& res);

private:
    void Login(const httplib::Request& req, httplib::Response& res);
    void GameList(const httplib::Request& req, httplib::Response& res);
    void StreamInfo(const httplib::Request& req, httplib::Response& res);
    void EndNotice(const httplib::Request& req, httplib::Response& res);
    void RoomState(const httplib::Request& req, httplib::Response& res);
    void OnPublish(const httplib::Request& req, httplib::Response& res);
    void OnPublishDone(const httplib::Request& req, httplib::Response& res);

    bool FromCallbackAddress(const httplib::Request& req) const;
    // Under the per-member limits on rooms asked for in a minute and on rooms live at once.
    bool MayOpenRoom(int64_t userId);

    const ServiceConfig& config_;
    ServiceStore& store_;
    MemberSessions& sessions_;
};
