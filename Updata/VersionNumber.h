#pragma once

#include <string>

// Version numbers are single integers read as ParseLeadingDecimal reads them, so "12" is newer
// than "9" and "1.10" counts as 1. True when the offered version is strictly newer.
bool UpdateDue(const std::string& localVersion, const std::string& offeredVersion);
