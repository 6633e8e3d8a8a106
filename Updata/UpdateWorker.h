#pragma once

#include <string>

#include "UpdateConnection.h"
#include "UpdateState.h"

// What the worker tells the window while it runs (from the timer thread).
class UpdateProgress {
public:
    virtual ~UpdateProgress() = default;
    // Files downloaded so far; the window shows "正在下载(total/done)...".
    virtual void SetProgress(int done) = 0;
    // Downloads begin: the progress bar becomes visible.
    virtual void ShowProgress() = 0;
};

struct UpdateOutcome {
    bool startMainProgram = false;  // start the broadcaster before ending
    std::string message;            // shown before ending; empty when all went well
};

// Brings the installation up to date as the description in `state` says: stage the listed
// folders and files in a private folder under `tempDir`, download every file, create the
// installation's folders, move the files in, delete what is listed, and record the new version
// in `versionFile`. Any failure that would leave a half-updated installation reported as current
// is reported instead, and the version is then not recorded, so the next run tries again.
// The staging folder is removed at the end either way.
UpdateOutcome RunUpdateWorker(const UpdateState& state, UpdateConnection* connection, UpdateProgress& progress,
                              const std::string& installDir, const std::string& tempDir,
                              const std::string& versionFile);

// Records `version` as the "ver" of "version.xml"'s root. False when the file cannot be read or
// written.
bool WriteVersion(const std::string& version, const std::string& versionFile);

// Moves a staged file to installDir/entry, replacing the old one in a single step (a copy when
// the two lie on different file systems). The installed file keeps the permission bits of the
// file it replaces; a file new to the installation gets 0755 when it is a program (ELF or "#!"
// script) and 0644 otherwise.
bool InstallFile(const std::string& staged, const std::string& installDir, const std::string& entry);
