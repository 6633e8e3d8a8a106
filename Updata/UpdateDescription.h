#pragma once

#include <string>

#include "UpdateState.h"

class CXmlDocFile;

// Reads "version.xml" (already loaded into `doc`): root "version" with "ver", and its first four
// child elements by position: server URL, base path, check page, description name.
// False when any of them is missing.
bool ReadVersionFile(const CXmlDocFile& doc, UpdateState& state);

// Parses the update description (root "updata" with "version" and the sections "directory",
// "file", "delete_directory" and "delete_file", found by name) into `state`. False when the text
// is not XML, an item is missing, or an entry is not a plain relative path inside the
// installation: a description must never make the updater write or delete anything elsewhere.
bool ParseUpdateDescription(const std::string& text, UpdateState& state);

// A non-empty relative path of "/"-separated names, none of them "." or "..".
bool IsSafeEntry(const std::string& entry);
