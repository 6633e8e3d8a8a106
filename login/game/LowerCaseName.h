#pragma once

#include <string>

// A process or game name lower-cased whole: every UTF-8 character takes its Unicode lower-case
// form ("Éclair" becomes "éclair", not only its ASCII letters). Bytes that are not valid UTF-8
// (file names are only bytes) are kept as they are, ASCII letters among them lower-cased.
std::string LowerCaseName(const std::string& name);
