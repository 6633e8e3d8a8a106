#pragma once

#include <string>

#include <QString>

#include "ServerAddresses.h"

// The texts and addresses of the information, help and about pages that do not come from a
// window: built here so they can be checked without one.
namespace MenuPageTexts {

// The service's forum and main web site live on the member web host; empty when the login
// address cannot be cracked.
std::string ForumPageUrl(const MY_DATA_SPACE::ServerAddressTable& servers);
std::string MainSiteUrl(const MY_DATA_SPACE::ServerAddressTable& servers);

// "<user>的直播间".
QString RoomName(const QString& userName);

// The about page's heading: the product name directly followed by the program version.
QString ProductTitle(const std::string& version);
QString OwnershipNotice();
// The product description: a line break, then six pieces joined by blank lines, the first
// indented by four spaces.
QString ProductDescription();

// The upgrade information of "UpdataInfo.txt" at `path`: every line followed by one line
// break, whatever the file's line ends. Reading stops at a line longer than 1022 bytes; a
// missing file gives an empty text. The file is text of the system's code page (UTF-8).
QString ReadUpdataInfo(const std::string& path);

}  // namespace MenuPageTexts
