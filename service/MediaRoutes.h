#pragma once

#include "RouteGroup.h"
#include "ServiceConfig.h"
#include "ServiceStore.h"

// A live room's HLS, served from the streaming server's output under the room's public id
// ("room-N"): viewers never learn the stream name, which is the publisher's secret.
class MediaRoutes : public RouteGroup {
public:
    MediaRoutes(const ServiceConfig& config, ServiceStore& store);

    void Register(httplib::Server& server) override;

private:
    void HlsPlaylist(const httplib::Request& req, httplib::Response& res);
    void HlsSegment(const httplib::Request& req, httplib::Response& res);

    const ServiceConfig& config_;
    ServiceStore& store_;
};
