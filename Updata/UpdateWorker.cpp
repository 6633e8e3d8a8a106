#include "UpdateWorker.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "AtomicFileWriter.h"
#include "CXmlDocFile.h"
#include "UpdateMessages.h"
#include "VersionNumber.h"

namespace {

bool IsFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// One level, as the description lists parents before children.
bool EnsureFolder(const std::string& path) {
    return IsFolder(path) || ::mkdir(path.c_str(), 0755) == 0;
}

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir;
}

// A private folder for this run: the temporary folder is shared with other users, who could
// otherwise plant links where our downloads go.
class StagingFolder {
public:
    explicit StagingFolder(const std::string& tempDir) {
        std::string pattern = WithSlash(tempDir) + "strimo-update-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~StagingFolder() {
        if (path_.empty()) return;
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;

    bool ok() const { return !path_.empty(); }
    std::string operator/(const std::string& entry) const { return path_ + "/" + entry; }

private:
    std::string path_;
};

bool CopyInto(const std::string& from, const std::string& to) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return false;
    AtomicFileWriter out(to);
    std::vector<char> block(64 * 1024);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        if (in.gcount() > 0 && !out.Write(block.data(), static_cast<std::size_t>(in.gcount()))) return false;
    }
    return !in.bad() && out.Commit();
}

// A program the system can start: an ELF image or a "#!" script.
bool IsProgram(const std::string& path) {
    char head[4] = {};
    std::ifstream in(path, std::ios::binary);
    in.read(head, sizeof head);
    const auto got = in.gcount();
    return (got >= 2 && head[0] == '#' && head[1] == '!') ||
           (got == 4 && head[0] == '\x7f' && head[1] == 'E' && head[2] == 'L' && head[3] == 'F');
}

// A download is written with the mode of any new file; installed as it is, a program that
// replaced `strimo` could no longer be started. The replaced file's permissions are kept, and a
// file new to the installation is executable exactly when it is a program.
mode_t InstalledMode(const std::string& staged, const std::string& target) {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) return st.st_mode & 07777;
    return IsProgram(staged) ? 0755 : 0644;
}

}  // namespace

bool InstallFile(const std::string& staged, const std::string& installDir, const std::string& entry) {
    const std::string target = WithSlash(installDir) + entry;
    const mode_t mode = InstalledMode(staged, target);
    if (::chmod(staged.c_str(), mode) != 0) return false;
    if (std::rename(staged.c_str(), target.c_str()) == 0) return true;
    if (errno != EXDEV) return false;
    if (!CopyInto(staged, target) || ::chmod(target.c_str(), mode) != 0) return false;
    ::unlink(staged.c_str());
    return true;
}

bool WriteVersion(const std::string& version, const std::string& versionFile) {
    CXmlDocFile doc(versionFile);
    if (!doc.Load(versionFile)) return false;
    auto* root = doc.Doc().first_node("version");
    if (root == nullptr) return false;
    if (root->first_attribute() != nullptr) root->remove_first_attribute();
    doc.SetAttribute(root, "ver", version);
    return doc.Save();
}

UpdateOutcome RunUpdateWorker(const UpdateState& state, UpdateConnection* connection, UpdateProgress& progress,
                              const std::string& installDir, const std::string& tempDir,
                              const std::string& versionFile) {
    if (!UpdateDue(state.localVersion, state.remoteVersion)) return {true, {}};

    StagingFolder staging(tempDir);
    if (!staging.ok()) return {false, kMsgUpdateFilesFailed};
    for (const auto& dir : state.directories)
        if (!EnsureFolder(staging / dir)) return {false, kMsgUpdateFilesFailed};

    progress.SetProgress(0);
    progress.ShowProgress();
    int done = 0;
    for (const auto& file : state.files) {
        if (connection == nullptr ||
            connection->GetToFile(state.serverUrl, state.FilePath(file), staging / file) != 1)
            return {false, kMsgDownloadFailed};
        progress.SetProgress(++done);
    }

    const std::string install = WithSlash(installDir);
    for (const auto& dir : state.directories)
        if (!EnsureFolder(install + dir)) return {false, kMsgUpdateFilesFailed};
    for (const auto& file : state.files)
        if (!InstallFile(staging / file, installDir, file)) return {false, kMsgUpdateFilesFailed};

    // A folder that still holds files stays; neither kind of deletion is worth failing over.
    for (const auto& file : state.deleteFiles) ::unlink((install + file).c_str());
    for (const auto& dir : state.deleteDirectories) ::rmdir((install + dir).c_str());

    if (!WriteVersion(state.remoteVersion, versionFile)) return {false, kMsgXmlError};
    return {true, {}};
}
