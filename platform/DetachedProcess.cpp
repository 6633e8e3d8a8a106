#include "DetachedProcess.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

extern char** environ;

namespace {
struct FileActionsFree {
    void operator()(posix_spawn_file_actions_t* a) const { posix_spawn_file_actions_destroy(a); }
};
struct AttrFree {
    void operator()(posix_spawnattr_t* a) const { posix_spawnattr_destroy(a); }
};
}  // namespace

bool StartDetached(const std::string& program, const std::string& workingDir) {
    posix_spawn_file_actions_t actionsStorage;
    if (posix_spawn_file_actions_init(&actionsStorage) != 0) return false;
    std::unique_ptr<posix_spawn_file_actions_t, FileActionsFree> actions(&actionsStorage);
    posix_spawnattr_t attrStorage;
    if (posix_spawnattr_init(&attrStorage) != 0) return false;
    std::unique_ptr<posix_spawnattr_t, AttrFree> attr(&attrStorage);

    if (!workingDir.empty() && posix_spawn_file_actions_addchdir_np(actions.get(), workingDir.c_str()) != 0)
        return false;
    // Its own session: closing the caller's terminal or process group does not take it along.
    if (posix_spawnattr_setflags(attr.get(), POSIX_SPAWN_SETSID) != 0) return false;

    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, program.c_str(), actions.get(), attr.get(), argv, environ) == 0;
}
