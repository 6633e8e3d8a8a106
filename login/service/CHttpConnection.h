#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "CHttpSession.h"
#include "CurlConnection.h"
#include "HttpHandle.h"

// A connection of a session to one host and port. Requests on it carry the session's cookies
// whatever URL they were asked for: only the object name and the scheme come from that URL.
class CHttpConnection : public HttpHandle {
public:
    // Null when the host is empty or the connection cannot be made.
    static std::unique_ptr<CHttpConnection> Open(const CHttpSession& session, const std::string& host,
                                                 std::uint16_t port);

    http::CurlConnection& Curl() { return *curl_; }

private:
    explicit CHttpConnection(std::unique_ptr<http::CurlConnection> curl) : curl_(std::move(curl)) {}
    std::unique_ptr<http::CurlConnection> curl_;
};
