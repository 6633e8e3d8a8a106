#pragma once

#include <string>

#include "LoginRecord.h"
#include "ServerAddresses.h"

// Addresses of the service pages the broadcaster opens in the browser. Registration, forgotten
// password, member centre and room pages are opened hidden; the home and update pages normally.
//
// The member web host and the member back-office host are not kept in the server list: both are
// taken to be the origin (scheme, host and port) of the login URL, where the service answers
// the login, so one deployment address serves them all. Every builder gives an empty string
// when the login URL cannot be cracked.

std::string MemberWebHost(const MY_DATA_SPACE::ServerAddressTable& servers);
std::string BackOfficeHost(const MY_DATA_SPACE::ServerAddressTable& servers);

std::string RegistrationPageUrl(const MY_DATA_SPACE::ServerAddressTable& servers);
std::string ForgottenPasswordPageUrl(const MY_DATA_SPACE::ServerAddressTable& servers);
// The member centre for `user` (the logged-in member); `entry` is 1 or 2 (the two links of the
// information page). User name and password are percent-encoded into the query.
std::string MemberCentreUrl(const MY_DATA_SPACE::ServerAddressTable& servers, const MY_DATA_SPACE::LoginRecord& user,
                            int entry);
// Room-page prefix + live id `lid` while a broadcast runs, else the idle room page.
std::string RoomPageUrl(const MY_DATA_SPACE::ServerAddressTable& servers, bool broadcasting, const std::string& lid);
std::string HomePageUrl(const MY_DATA_SPACE::ServerAddressTable& servers);
std::string UpdatePageUrl(const MY_DATA_SPACE::ServerAddressTable& servers);
