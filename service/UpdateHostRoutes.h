#pragma once

#include "MemberSessions.h"
#include "RouteGroup.h"
#include "ServiceConfig.h"

// The update host the updater asks (/updata/check, the description and the files it lists, all
// from the update folder) and the page that tells members which version it offers (/update/).
class UpdateHostRoutes : public RouteGroup {
public:
    UpdateHostRoutes(const ServiceConfig& config, MemberSessions& sessions);

    void Register(httplib::Server& server) override;

private:
    void UpdateCheck(const httplib::Request& req, httplib::Response& res);
    void UpdateFile(const httplib::Request& req, httplib::Response& res);
    void UpdatePage(const httplib::Request& req, httplib::Response& res);
    // True for the description and the files it lists, when they are inside the update folder
    // (not reached through a link that leaves it).
    bool Offered(const std::string& path) const;

    const ServiceConfig& config_;
    MemberSessions& sessions_;
};
