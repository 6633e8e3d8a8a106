#pragma once

#include <string>

namespace MY_DATA_SPACE {

// A game of the configuration's game list: its name, its executable and the version
// information the detector matches a running process against.
struct GameRecord {
    std::string name;
    std::string main;  // executable name
    std::string companyName;
    std::string legalCopyright;
};

}  // namespace MY_DATA_SPACE
