#pragma once

#include <map>
#include <optional>
#include <string>

#include "HttpHandle.h"
#include "LoginOutcome.h"
#include "ServerAddresses.h"

// Every exchange the broadcaster has with the service. Each takes the addresses (and the login's
// kept connection) it needs and returns what the service said; the caller keeps the results.
// Form values are percent-encoded; the literal parts of the bodies are the service's own and
// stay exactly as written.

// Game name to game id, from the game-list reply.
using GameIdTable = std::map<std::string, std::string>;

inline constexpr const char* kOtherGameName = "其他";
inline constexpr const char* kLoginFailedMessage = "输入用户或密码出错!";
inline constexpr const char* kReplyErrorMessage = "返回信息出错!";
inline constexpr const char* kStreamInfoFailedMessage = "获取信息失败";

// One value of an application/x-www-form-urlencoded body or query: letters, digits and "*-._"
// stay, a space becomes "+", every other byte "%XX". "&", "=", "+", "%" and non-ASCII text thus
// reach the service as typed.
std::string FormValue(const std::string& value);

std::string LoginBody(const std::string& user, const std::string& password);
// "gid=" + id + " &title=" + introduction; the space before "&" is what the service expects.
std::string StreamInfoBody(const std::string& gameId, const std::string& introduction);

// The login (login URL slot). Accepted when the service accepted the user; the caller keeps the
// session and the connection of a received reply for the requests below. The caller shows
// kLoginFailedMessage when not accepted: network failure and wrong credentials are not told
// apart.
LoginOutcome RequestLogin(const MY_DATA_SPACE::ServerAddressTable& servers, const std::string& user,
                          const std::string& password);

enum class GameListResult {
    kGood,      // the table holds the list
    kNotJson,   // the program ends with status 0 and says nothing
    kBadReply,  // the POST failed or an element lacks "gname"/"gid": kReplyErrorMessage, then status 0
};

// Reads a game-list reply into `table` (entries of good elements before a bad one stay). An
// object root is read as the list of its member values, in member-name order. A "gname" or
// "gid" that is a string or an integer is taken (an integer by its decimal text); missing, null
// or any other type makes the reply bad.
GameListResult ParseGameList(const std::string& reply, GameIdTable& table);
// Posts for the game list (game-list slot) on the login's `connection` and reads it into `table`.
GameListResult RequestGameList(const MY_DATA_SPACE::ServerAddressTable& servers, HttpHandle* connection,
                               GameIdTable& table);
// Null for kGood and kNotJson, else the words to show before the program ends.
const char* GameListMessage(GameListResult result);

// The id of `gameName`, else the id of "其他", else empty.
std::string GameIdFor(const GameIdTable& table, const std::string& gameName);

struct StreamInfo {
    std::string pipName;
    std::string pipUrl;
    std::string lid;
};
// The three members of a stream-information reply. A missing or null member gives an empty
// string, true/false give "true"/"false". nullopt when the reply is not a JSON object or a
// member is a number, an array or an object: such a reply counts as not parsed.
std::optional<StreamInfo> ParseStreamInfo(const std::string& reply);

// Asks for the stream of a new broadcast (stream-information slot, on the login's `connection`)
// and gives "pipName", "pipUrl" and "lid" (all empty when the reply does not parse; the
// broadcast goes ahead with them). nullopt only when the POST failed: the caller shows
// kStreamInfoFailedMessage and does not start.
std::optional<StreamInfo> RequestStreamInfo(const MY_DATA_SPACE::ServerAddressTable& servers, HttpHandle* connection,
                                            const GameIdTable& table, const std::string& gameName,
                                            const std::string& introduction);

// Tells the service that the broadcast `lid` ended (end-notice slot), on a session of its own.
// The reply and the outcome do not matter to anyone.
void SendEndNotice(const MY_DATA_SPACE::ServerAddressTable& servers, const std::string& lid);
