#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "LoginThrottle.h"
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

    // Ends the session the request carries, if any, and clears its cookie.
    void End(const httplib::Request& req, httplib::Response& res);

    // The member when the password is theirs. Unknown names cost a hash as well, so the time
    // taken tells nothing about which names exist. While the try is throttled (LoginThrottle:
    // the name from this address, or an address failing for many names) the answer is "no" at
    // once, without a hash: a flood of guesses costs the service nothing and tells the guesser
    // nothing.
    // A member changing the password proves the old one: its failures lock only password
    // changes of that member, not the member's log-ins.
    enum class Purpose { LogIn, PasswordChange };
    std::optional<ServiceStore::User> CheckPassword(const std::string& name, const std::string& password,
                                                    const std::string& address, Purpose purpose = Purpose::LogIn);

    // The client's address: the peer's, or behind our nginx front the one nginx saw.
    std::string AddressOf(const httplib::Request& req) const;

private:
    std::string TokenOf(const httplib::Request& req) const;
    void SetCookie(httplib::Response& res, const std::string& token, int maxAge) const;

    const ServiceConfig& config_;
    ServiceStore& store_;
    std::string dummyHash_;
    LoginThrottle throttle_;
};
