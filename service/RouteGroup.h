#pragma once

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

// A group of the service's routes that belong together (the broadcaster's exchanges, the member
// pages, ...): it puts its handlers on the server, which dispatches to them.
class RouteGroup {
public:
    virtual ~RouteGroup() = default;

    // Adds the group's paths and handlers to `server`; the group must outlive the server.
    virtual void Register(httplib::Server& server) = 0;

protected:
    RouteGroup() = default;
    RouteGroup(const RouteGroup&) = delete;
    RouteGroup& operator=(const RouteGroup&) = delete;
};
