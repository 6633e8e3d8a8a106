#pragma once

#include <string>

// Moves `path` to the first free name of `path` + `suffix`, `path` + `suffix` + ".2", ".3", ...
// without ever replacing a file that is already there, and gives that name in `keptAs`. True
// when there was nothing at `path` (`keptAs` empty) or it was moved; false when it stays.
bool MoveFileAside(const std::string& path, const std::string& suffix, std::string* keptAs = nullptr);
