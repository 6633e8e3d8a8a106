#pragma once

#include <memory>
#include <string>

#include <curl/curl.h>

namespace http {

struct CurlShareCleanup {
    void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
using CurlSharePtr = std::shared_ptr<CURLSH>;

// What a client session is to the service: the user-agent name and the cookie jar that every
// connection opened in the session shares. The share is reference counted because a connection
// may outlive the session that opened it (the kept handles are replaced one at a time).
class CurlSession {
public:
    // Null when libcurl cannot be initialised or the share cannot be made.
    static std::unique_ptr<CurlSession> Open(std::string agent);

    const std::string& Agent() const { return agent_; }
    const CurlSharePtr& Share() const { return share_; }

private:
    CurlSession(std::string agent, CurlSharePtr share) : agent_(std::move(agent)), share_(std::move(share)) {}

    std::string agent_;
    CurlSharePtr share_;
};

// curl_global_init once per process; false when it failed.
bool EnsureCurlInitialised();

}  // namespace http
