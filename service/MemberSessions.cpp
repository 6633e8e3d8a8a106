#include "MemberSessions.h"

#include <httplib.h>

#include <algorithm>
#include <string_view>

#include "PasswordHash.h"

MemberSessions::MemberSessions(const ServiceConfig& config, ServiceStore& store)
    : config_(config), store_(store), dummyHash_(PasswordHash::Make("no such member", config.hashIterations)),
      throttle_(store)
{
}

std::string MemberSessions::TokenOf(const httplib::Request& req) const
{
    const std::string cookies = req.get_header_value("Cookie");
    const std::string key = std::string(kCookie) + "=";
    size_t pos = 0;
    while (pos < cookies.size()) {
        while (pos < cookies.size() && (cookies[pos] == ' ' || cookies[pos] == ';')) ++pos;
        const size_t end = std::min(cookies.find(';', pos), cookies.size());
        const std::string_view item = std::string_view(cookies).substr(pos, end - pos);
        if (item.substr(0, key.size()) == key) {
            const std::string token(item.substr(key.size()));
            if (token.size() == 64 && std::all_of(token.begin(), token.end(), [](char c) {
                    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                })) {
                return token;
            }
        }
        pos = end + 1;
    }
    return {};
}

std::optional<ServiceStore::User> MemberSessions::Of(const httplib::Request& req)
{
    const std::string token = TokenOf(req);
    if (token.empty()) return std::nullopt;
    return store_.SessionUser(PasswordHash::Sha256Hex(token));
}

std::string MemberSessions::NameOf(const httplib::Request& req)
{
    const auto user = Of(req);
    return user ? user->name : std::string{};
}

void MemberSessions::SetCookie(httplib::Response& res, const std::string& token, int maxAge) const
{
    const bool secure = config_.webUrl.rfind("https://", 0) == 0;
    res.set_header("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; Max-Age=" + std::to_string(maxAge) +
                                     "; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : ""));
}

void MemberSessions::Start(httplib::Response& res, int64_t userId)
{
    // Sessions nobody ends (the broadcaster never logs out) would pile up: each log-in clears
    // the ones past their end.
    store_.PurgeExpiredSessions();
    const std::string token = PasswordHash::RandomHex(32);
    store_.CreateSession(userId, PasswordHash::Sha256Hex(token));
    SetCookie(res, token, ServiceStore::kSessionDays * 86400);
}

void MemberSessions::End(const httplib::Request& req, httplib::Response& res)
{
    const std::string token = TokenOf(req);
    if (!token.empty()) store_.EndSession(PasswordHash::Sha256Hex(token));
    SetCookie(res, "", 0);
}

std::optional<ServiceStore::User> MemberSessions::CheckPassword(const std::string& name, const std::string& password,
                                                                const std::string& address, Purpose purpose)
{
    if (name.empty() || password.empty() || name.size() > 64 || password.size() > 256) return std::nullopt;
    const std::string key = purpose == Purpose::LogIn ? name : "password change of " + name;
    // The session already names who changes a password: only the member's own count grows.
    const std::string from = purpose == Purpose::LogIn ? address : std::string{};
    if (throttle_.Locked(key, from)) return std::nullopt;
    auto user = store_.FindUser(name);
    const bool ok = PasswordHash::Verify(password, user ? user->passwordHash : dummyHash_) && user;
    if (!ok) {
        throttle_.Failed(key, from);
        return std::nullopt;
    }
    throttle_.Succeeded(key, from);
    return user;
}

std::string MemberSessions::AddressOf(const httplib::Request& req) const
{
    // The front's secret was checked before any route ran, so X-Real-IP is nginx's own.
    if (!config_.frontSecret.empty()) {
        const std::string real = req.get_header_value("X-Real-IP");
        if (!real.empty()) return real;
    }
    return req.remote_addr;
}
