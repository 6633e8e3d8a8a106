#include "MemberSessions.h"

#include <httplib.h>

#include <algorithm>
#include <string_view>

#include "PasswordHash.h"

MemberSessions::MemberSessions(const ServiceConfig& config, ServiceStore& store)
    : config_(config), store_(store), dummyHash_(PasswordHash::Make("no such member", config.hashIterations))
{
}

std::optional<ServiceStore::User> MemberSessions::Of(const httplib::Request& req)
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
                if (auto user = store_.SessionUser(PasswordHash::Sha256Hex(token))) return user;
            }
        }
        pos = end + 1;
    }
    return std::nullopt;
}

std::string MemberSessions::NameOf(const httplib::Request& req)
{
    const auto user = Of(req);
    return user ? user->name : std::string{};
}

void MemberSessions::Start(httplib::Response& res, int64_t userId)
{
    const std::string token = PasswordHash::RandomHex(32);
    store_.CreateSession(userId, PasswordHash::Sha256Hex(token));
    const bool secure = config_.webUrl.rfind("https://", 0) == 0;
    res.set_header("Set-Cookie", std::string(kCookie) + "=" + token + "; Path=/; Max-Age=" +
                                     std::to_string(ServiceStore::kSessionDays * 86400) +
                                     "; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : ""));
}

std::optional<ServiceStore::User> MemberSessions::CheckPassword(const std::string& name, const std::string& password)
{
    if (name.size() > 64 || password.size() > 256) return std::nullopt;
    auto user = store_.FindUser(name);
    if (!user) {
        PasswordHash::Verify(password, dummyHash_);
        return std::nullopt;
    }
    if (!PasswordHash::Verify(password, user->passwordHash)) return std::nullopt;
    return user;
}
