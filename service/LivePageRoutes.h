#pragma once

#include "MemberSessions.h"
#include "RouteGroup.h"
#include "ServiceConfig.h"
#include "ServiceStore.h"

// The pages viewers browse: the home page, the list of live rooms (the broadcaster's idle page)
// and a room's page with its player.
class LivePageRoutes : public RouteGroup {
public:
    LivePageRoutes(const ServiceConfig& config, ServiceStore& store, MemberSessions& sessions);

    void Register(httplib::Server& server) override;

private:
    void HomePage(const httplib::Request& req, httplib::Response& res);
    void LiveList(const httplib::Request& req, httplib::Response& res);
    void RoomPage(const httplib::Request& req, httplib::Response& res);

    const ServiceConfig& config_;
    ServiceStore& store_;
    MemberSessions& sessions_;
};
