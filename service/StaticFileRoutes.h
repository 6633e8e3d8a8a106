#pragma once

#include "RouteGroup.h"
#include "ServiceConfig.h"

// The pages' static files under /static/: the style and the room script from the web root,
// hls.min.js from where the web dependencies installed it.
class StaticFileRoutes : public RouteGroup {
public:
    explicit StaticFileRoutes(const ServiceConfig& config);

    void Register(httplib::Server& server) override;

private:
    void StaticFile(const httplib::Request& req, httplib::Response& res);

    const ServiceConfig& config_;
};
