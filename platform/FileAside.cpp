#include "FileAside.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int kMaxNames = 1000;

// rename(2) that fails with EEXIST instead of replacing the target.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return -1;
    // A file system without the flag: a hard link cannot replace anything either.
    if (::link(from.c_str(), to.c_str()) != 0) return -1;
    return ::unlink(from.c_str());
}

}  // namespace

bool MoveFileAside(const std::string& path, const std::string& suffix, std::string* keptAs) {
    if (keptAs != nullptr) keptAs->clear();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return errno == ENOENT;
    for (int n = 1; n <= kMaxNames; ++n) {
        const std::string name = path + suffix + (n == 1 ? std::string() : "." + std::to_string(n));
        if (RenameNoReplace(path, name) == 0) {
            if (keptAs != nullptr) *keptAs = name;
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}
