#pragma once

// A handle of the HTTP client (a session or a kept connection) that CData holds for the
// broadcaster's run. Destroying the handle closes it.
class HttpHandle {
public:
    virtual ~HttpHandle() = default;
};
