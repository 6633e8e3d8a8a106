#pragma once

// A private current directory for window tests: "res" points at the installation's pictures,
// and anything the program writes (config.xml, usr.xml) stays in the temporary folder.

#include <filesystem>

#include "TempDir.h"

class WindowTestDir {
public:
    WindowTestDir() : chdir_((std::filesystem::create_directory_symlink(STRIMO_INSTALL_DIR "/res", dir_.path() / "res"), dir_.path())) {}
    const testsupport::TempDir& Dir() const { return dir_; }

private:
    testsupport::TempDir dir_;
    testsupport::ScopedChdir chdir_;
};
