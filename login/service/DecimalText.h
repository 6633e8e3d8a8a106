#pragma once

#include <string_view>

// Reads a number the way the stored files and the update host have always been read (the C
// library's atoi): leading white space, an optional sign, then decimal digits up to the first
// non-digit; 0 when there are none. Out-of-range values saturate instead of overflowing.
int ParseLeadingDecimal(std::string_view text);
