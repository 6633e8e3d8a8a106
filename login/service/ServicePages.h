#pragma once

#include <string>

namespace MY_DATA_SPACE {
class CData;
}

// Addresses of the service pages the broadcaster opens in the browser. Registration, forgotten
// password, member centre and room pages are opened hidden; the home and update pages normally.
//
// The member web host and the member back-office host are not kept in the server list: both are
// taken to be the origin (scheme, host and port) of the login URL, where the service answers
// the login, so one deployment address serves them all. Every builder gives an empty string
// when the login URL cannot be cracked.

std::string MemberWebHost(const MY_DATA_SPACE::CData& data);
std::string BackOfficeHost(const MY_DATA_SPACE::CData& data);

std::string RegistrationPageUrl(const MY_DATA_SPACE::CData& data);
std::string ForgottenPasswordPageUrl(const MY_DATA_SPACE::CData& data);
// The member centre for the current user; `entry` is 1 or 2 (the two links of the information
// page). User name and password are percent-encoded into the query.
std::string MemberCentreUrl(const MY_DATA_SPACE::CData& data, int entry);
// Room-page prefix + live id while a broadcast runs, else the idle room page.
std::string RoomPageUrl(const MY_DATA_SPACE::CData& data);
std::string HomePageUrl(const MY_DATA_SPACE::CData& data);
std::string UpdatePageUrl(const MY_DATA_SPACE::CData& data);
