#pragma once

#include <memory>

#include "HttpHandle.h"

// What the login POST gives back: the service's verdict and, once a reply was received
// (whatever the verdict), the session and the connection of the exchange, so that later
// requests on the connection carry the login's cookies. Both handles are null when no reply
// was received; the caller then keeps the handles it held.
struct LoginOutcome {
    bool accepted = false;
    std::unique_ptr<HttpHandle> session;
    std::unique_ptr<HttpHandle> connection;

    bool Received() const { return connection != nullptr; }
};
