#include "VersionNumber.h"

#include "DecimalText.h"

bool UpdateDue(const std::string& localVersion, const std::string& offeredVersion) {
    return ParseLeadingDecimal(localVersion) < ParseLeadingDecimal(offeredVersion);
}
