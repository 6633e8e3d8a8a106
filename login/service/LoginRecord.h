#pragma once

#include <string>

namespace MY_DATA_SPACE {

// A member's login: the name and password sent to the service, and whether the login window
// remembers them.
struct LoginRecord {
    std::string name;
    std::string password;
    bool remember = false;
};

}  // namespace MY_DATA_SPACE
