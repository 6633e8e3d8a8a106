#pragma once

// A handle of the HTTP client (a session or a kept connection) that the broadcaster keeps for its
// run. Destroying the handle closes it.
class HttpHandle {
public:
    virtual ~HttpHandle() = default;
};
