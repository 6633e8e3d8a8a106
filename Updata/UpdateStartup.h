#pragma once

#include <memory>
#include <string>

#include "UpdateConnection.h"
#include "UpdateMessages.h"
#include "UpdateState.h"

// The start-up checks, before anything on disk is changed: read `versionFile`, check the update
// host and fetch the update description. Returns the message to show and end with, or an empty
// text when the state is filled and `connection` holds the kept connection.
std::string RunUpdateStartup(const std::string& versionFile, UpdateState& state,
                             std::unique_ptr<UpdateConnection>& connection);

// The check repeated on every tick on the kept connection: false when the host no longer answers
// or its answer fails the check rule ("连接中断").
bool RepeatCheck(UpdateConnection* connection, const UpdateState& state);
