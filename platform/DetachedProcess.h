#pragma once

#include <string>

// Starts `program` in `workingDir` as a process of its own session, not a child the caller must
// wait for: it outlives the caller, as a program started through the desktop shell does.
// True when the program could be started.
bool StartDetached(const std::string& program, const std::string& workingDir);
