#pragma once

#include <optional>
#include <string>

#include "UpdateState.h"

class CXmlDocFile;

// Reads "version.xml" (already loaded into `doc`): root "version" with "ver", and its first four
// child elements by position: server URL, base path, check page, description name.
// False when any of them is missing.
bool ReadVersionFile(const CXmlDocFile& doc, UpdateState& state);

// Parses the update description (root "updata" with "version" and the sections "directory",
// "file", "delete_directory" and "delete_file", found by name) into `state`. False when the text
// is not XML, an item is missing, or an entry is not a relative path inside the installation: a
// description must never make the updater write or delete anything elsewhere. Entries are kept
// in their normal form (NormaliseEntry).
bool ParseUpdateDescription(const std::string& text, UpdateState& state);

// An entry as a plain relative path: "/"-separated names, without empty or "." names, so that
// "res/", "./res" and "res//x" are "res", "res" and "res/x". Nullopt for what could name
// anything outside the installation or the installation itself: an absolute path, a ".." name,
// a "\" or a 0 byte, and an entry with no name left.
std::optional<std::string> NormaliseEntry(const std::string& entry);
