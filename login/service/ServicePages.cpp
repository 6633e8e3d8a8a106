#include "ServicePages.h"

#include "CData.h"
#include "CHttpUrl.h"
#include "ServiceRequests.h"

using MY_DATA_SPACE::CData;

std::string MemberWebHost(const CData& data) { return CHttpUrl(data.ServerAddress(MY_DATA_SPACE::kLoginUrl)).Origin(); }

std::string BackOfficeHost(const CData& data) { return MemberWebHost(data); }

std::string RegistrationPageUrl(const CData& data) {
    const std::string host = BackOfficeHost(data);
    return host.empty() ? host : host + "/index.php?m=member&c=index&a=register";
}

std::string ForgottenPasswordPageUrl(const CData& data) {
    const std::string host = BackOfficeHost(data);
    return host.empty() ? host : host + "/index.php?m=member&c=index&a=public_forget_password";
}

std::string MemberCentreUrl(const CData& data, int entry) {
    const std::string host = MemberWebHost(data);
    if (host.empty()) return host;
    const auto& user = data.CurrentUser();
    return host + "/index.php?m=member&c=index&a=member_goto_api" + "&username=" + FormValue(user.name) +
           "&password=" + FormValue(user.password) + "&p=" + std::to_string(entry);
}

std::string RoomPageUrl(const CData& data) {
    if (data.Broadcasting() != 0) return data.ServerAddress(MY_DATA_SPACE::kRoomPagePrefix) + data.Lid();
    return data.ServerAddress(MY_DATA_SPACE::kIdlePage);
}

std::string HomePageUrl(const CData& data) {
    const std::string host = MemberWebHost(data);
    return host.empty() ? host : host + "/";
}

std::string UpdatePageUrl(const CData& data) { return data.ServerAddress(MY_DATA_SPACE::kUpdatePage); }
