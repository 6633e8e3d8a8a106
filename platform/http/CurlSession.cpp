#include "CurlSession.h"

namespace http {

bool EnsureCurlInitialised() {
    // Thread-safe once; libcurl's global state lives until the process ends.
    static const bool ok = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ok;
}

std::unique_ptr<CurlSession> CurlSession::Open(std::string agent) {
    if (!EnsureCurlInitialised()) return nullptr;
    CurlSharePtr share(curl_share_init(), CurlShareCleanup{});
    if (!share) return nullptr;
    // Only the cookie jar is shared: the service keeps the login in a cookie, and every request
    // of the session must carry it. All use is on one thread, so no lock callbacks are needed.
    if (curl_share_setopt(share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE) != CURLSHE_OK) return nullptr;
    return std::unique_ptr<CurlSession>(new CurlSession(std::move(agent), std::move(share)));
}

}  // namespace http
