#include "ServiceRequests.h"

#include <memory>

#include <json/json.h>

#include "HttpClient.h"

namespace {

using MY_DATA_SPACE::ServerAddressTable;

std::optional<Json::Value> ParseJson(const std::string& text) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    // The reader throws instead of failing on some input (nesting deeper than its stack limit).
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return std::nullopt;
    } catch (const Json::Exception&) {
        return std::nullopt;
    }
    return root;
}

// A game-list member as text; nullopt when it cannot name a game or an id.
std::optional<std::string> GameListMember(const Json::Value& element, const char* name) {
    if (!element.isObject()) return std::nullopt;
    const Json::Value& member = element[name];
    if (member.isString()) return member.asString();
    if (member.isIntegral()) return member.asString();
    return std::nullopt;
}

}  // namespace

std::string FormValue(const std::string& value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size() * 3);
    for (const unsigned char c : value) {
        const bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '*' ||
                          c == '-' || c == '.' || c == '_';
        if (keep) {
            out += static_cast<char>(c);
        } else if (c == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

std::string LoginBody(const std::string& user, const std::string& password) {
    return "username=" + FormValue(user) + "&password=" + FormValue(password);
}

std::string StreamInfoBody(const std::string& gameId, const std::string& introduction) {
    return "gid=" + FormValue(gameId) + " &title=" + FormValue(introduction);
}

LoginOutcome RequestLogin(const ServerAddressTable& servers, const std::string& user, const std::string& password) {
    return PostLogin(servers[MY_DATA_SPACE::kLoginUrl], LoginBody(user, password));
}

GameListResult ParseGameList(const std::string& reply, GameIdTable& table) {
    const auto root = ParseJson(reply);
    if (!root) return GameListResult::kNotJson;
    // Iterating an object visits its member values in member-name order; a scalar root has no
    // elements and gives an empty list.
    for (const Json::Value& element : *root) {
        const auto name = GameListMember(element, "gname");
        const auto id = GameListMember(element, "gid");
        if (!name || !id) return GameListResult::kBadReply;
        table[*name] = *id;
    }
    return GameListResult::kGood;
}

GameListResult RequestGameList(const ServerAddressTable& servers, HttpHandle* connection, GameIdTable& table) {
    std::string reply;
    if (!PostOnConnection(reply, connection, servers[MY_DATA_SPACE::kGameListUrl], ""))
        return GameListResult::kBadReply;
    return ParseGameList(reply, table);
}

const char* GameListMessage(GameListResult result) {
    return result == GameListResult::kBadReply ? kReplyErrorMessage : nullptr;
}

std::string GameIdFor(const GameIdTable& table, const std::string& gameName) {
    if (const auto it = table.find(gameName); it != table.end()) return it->second;
    if (const auto it = table.find(kOtherGameName); it != table.end()) return it->second;
    return {};
}

std::optional<StreamInfo> ParseStreamInfo(const std::string& reply) {
    const auto root = ParseJson(reply);
    if (!root || !root->isObject()) return std::nullopt;
    bool parsed = true;
    const auto member = [&](const char* name) -> std::string {
        const Json::Value& v = (*root)[name];
        if (v.isNull()) return {};
        if (v.isString() || v.isBool()) return v.asString();
        parsed = false;
        return {};
    };
    StreamInfo info{member("pipName"), member("pipUrl"), member("lid")};
    if (!parsed) return std::nullopt;
    return info;
}

std::optional<StreamInfo> RequestStreamInfo(const ServerAddressTable& servers, HttpHandle* connection,
                                            const GameIdTable& table, const std::string& gameName,
                                            const std::string& introduction) {
    std::string reply;
    const std::string body = StreamInfoBody(GameIdFor(table, gameName), introduction);
    if (!PostOnConnection(reply, connection, servers[MY_DATA_SPACE::kStreamInfoUrl], body)) return std::nullopt;
    return ParseStreamInfo(reply).value_or(StreamInfo{});
}

void SendEndNotice(const ServerAddressTable& servers, const std::string& lid) {
    std::string ignored;
    (void)PostForText(ignored, servers[MY_DATA_SPACE::kEndNoticePrefix] + lid, "");
}
