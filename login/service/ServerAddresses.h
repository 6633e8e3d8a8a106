#pragma once

#include <array>
#include <string>

namespace MY_DATA_SPACE {

// Slots of the configuration's server list.
enum ServerSlot : int {
    kLoginUrl = 0,
    kStreamInfoUrl = 3,
    kGameListUrl = 4,
    kRoomPagePrefix = 5,
    kIdlePage = 6,
    kEndNoticePrefix = 7,
    kUpdatePage = 8,
};
constexpr int kServerSlots = 9;

// The service's addresses by slot, as the configuration lists them: what every request and
// page address is built from. Slots the configuration leaves out are empty.
using ServerAddressTable = std::array<std::string, kServerSlots>;

}  // namespace MY_DATA_SPACE
