#pragma once

#include <memory>
#include <string>

#include "CurlSession.h"
#include "HttpHandle.h"

// A session of the HTTP client: its agent name and the cookie jar its connections share.
class CHttpSession : public HttpHandle {
public:
    // Null when the session cannot be opened.
    static std::unique_ptr<CHttpSession> Open(const std::string& agent);

    const http::CurlSession& Curl() const { return *curl_; }

private:
    explicit CHttpSession(std::unique_ptr<http::CurlSession> curl) : curl_(std::move(curl)) {}
    std::unique_ptr<http::CurlSession> curl_;
};
