#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "BroadcasterApiRoutes.h"
#include "LivePageRoutes.h"
#include "MediaRoutes.h"
#include "MemberPageRoutes.h"
#include "MemberSessions.h"
#include "RouteGroup.h"
#include "ServiceConfig.h"
#include "ServiceStore.h"
#include "StaticFileRoutes.h"
#include "UpdateHostRoutes.h"

// The reference service's HTTP side: listens, answers wrong methods, errors and failures the
// same way for every path, and holds the route groups that answer the rest (the broadcaster's
// exchanges and the publish callbacks, the pages, the update host, the rooms' HLS, static files).
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

    // Ends Run() from any thread, also one that has not started serving yet; requests under way
    // are finished first.
    void Stop();

private:
    void Dispatch();

    ServiceConfig config_;
    MemberSessions sessions_;
    BroadcasterApiRoutes broadcasterApi_;
    LivePageRoutes livePages_;
    MemberPageRoutes memberPages_;
    UpdateHostRoutes updateHost_;
    MediaRoutes media_;
    StaticFileRoutes staticFiles_;
    std::unique_ptr<httplib::Server> server_;
    // The bound socket while Run() may still accept on it; -1 once Run() has returned.
    int listenSocket_ = -1;
    std::mutex stopMutex_;
    std::atomic<bool> stopRequested_{false};
};
