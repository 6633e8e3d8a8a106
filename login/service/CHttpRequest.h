#pragma once

#include <string>

// A request that was sent and whose response was received. The response body is kept whole:
// it is read and decoded in one piece, never cut into buffer-sized chunks.
class CHttpRequest {
public:
    CHttpRequest(long status, std::string body) : status_(status), body_(std::move(body)) {}

    long Status() const { return status_; }
    const std::string& Body() const { return body_; }

private:
    long status_;
    std::string body_;
};
