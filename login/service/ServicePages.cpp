#include "ServicePages.h"

#include "CHttpUrl.h"
#include "ServiceRequests.h"

using MY_DATA_SPACE::LoginRecord;
using MY_DATA_SPACE::ServerAddressTable;

std::string MemberWebHost(const ServerAddressTable& servers) {
    return CHttpUrl(servers[MY_DATA_SPACE::kLoginUrl]).Origin();
}

std::string BackOfficeHost(const ServerAddressTable& servers) { return MemberWebHost(servers); }

std::string RegistrationPageUrl(const ServerAddressTable& servers) {
    const std::string host = BackOfficeHost(servers);
    return host.empty() ? host : host + "/index.php?m=member&c=index&a=register";
}

std::string ForgottenPasswordPageUrl(const ServerAddressTable& servers) {
    const std::string host = BackOfficeHost(servers);
    return host.empty() ? host : host + "/index.php?m=member&c=index&a=public_forget_password";
}

std::string MemberCentreUrl(const ServerAddressTable& servers, const LoginRecord& user, int entry) {
    const std::string host = MemberWebHost(servers);
    if (host.empty()) return host;
    return host + "/index.php?m=member&c=index&a=member_goto_api" + "&username=" + FormValue(user.name) +
           "&password=" + FormValue(user.password) + "&p=" + std::to_string(entry);
}

std::string RoomPageUrl(const ServerAddressTable& servers, bool broadcasting, const std::string& lid) {
    if (broadcasting) return servers[MY_DATA_SPACE::kRoomPagePrefix] + lid;
    return servers[MY_DATA_SPACE::kIdlePage];
}

std::string HomePageUrl(const ServerAddressTable& servers) {
    const std::string host = MemberWebHost(servers);
    return host.empty() ? host : host + "/";
}

std::string UpdatePageUrl(const ServerAddressTable& servers) { return servers[MY_DATA_SPACE::kUpdatePage]; }
