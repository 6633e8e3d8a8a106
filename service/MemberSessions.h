#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ServiceConfig.h"
#include "ServiceStore.h"

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

// Who a request comes from: the session cookie a member gets at log-in (in the broadcaster or
// in a browser), and the password check that grants it.
class MemberSessions {
public:
    static constexpr const char* kCookie = "STRIMOSESSION";

    MemberSessions(const ServiceConfig& config, ServiceStore& store);

    // The member whose live session cookie the request carries.
    std::optional<ServiceStore::User> Of(const httplib::Request& req);

    // The name the navigation bar shows: the member's, empty for nobody.
    std::string NameOf(const httplib::Request& req);

    // Opens a session for the member and sets its cookie on the response.
    void Start(httplib::Response& res, int64_t userId);

    // The member when the password is theirs. Unknown names cost a hash as well, so the time
    // taken tells nothing about which names exist.
    std::optional<ServiceStore::User> CheckPassword(const std::string& name, const std::string& password);

private:
    const ServiceConfig& config_;
    ServiceStore& store_;
    std::string dummyHash_;
};
