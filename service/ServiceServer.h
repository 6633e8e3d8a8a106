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

    // The callback listener's port once Bind() has bound it; -1 when there is none.
    int CallbackPort() const { return callbackPort_; }

    // Serves on the bound socket until Stop(). False when it could not serve.
    bool Run();

    // Ends Run() from any thread, also one that has not started serving yet; requests under way
    // are finished first.
    void Stop();

    // What every page carries: the content policy under which the room page's player works.
    static constexpr const char* kContentPolicy =
        "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self' data:; "
        "media-src 'self' blob:; worker-src 'self' blob:; connect-src 'self'; object-src 'none'; "
        "base-uri 'none'; form-action 'self'; frame-ancestors 'none'";

private:
    void Dispatch();
    // Why a request may not be answered here (another site's, or one that bypassed the front);
    // empty when it may.
    std::string Refusal(const httplib::Request& req) const;

    ServiceConfig config_;
    MemberSessions sessions_;
    BroadcasterApiRoutes broadcasterApi_;
    LivePageRoutes livePages_;
    MemberPageRoutes memberPages_;
    UpdateHostRoutes updateHost_;
    MediaRoutes media_;
    StaticFileRoutes staticFiles_;
    std::unique_ptr<httplib::Server> server_;
    // nginx's publish callbacks, on threads of their own.
    std::unique_ptr<httplib::Server> callbacks_;
    int callbackPort_ = -1;
    int callbackSocket_ = -1;
    // The bound socket while Run() may still accept on it; -1 once Run() has returned.
    int listenSocket_ = -1;
    std::mutex stopMutex_;
    std::atomic<bool> stopRequested_{false};
};
