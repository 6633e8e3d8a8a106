#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The update description the updater reads (root "updata"): made from a folder of release
// files, whose layout is the installation's. Folders are listed parents first, because the
// updater creates each one a single level deep.
class UpdateDescription {
public:
    static constexpr const char* kFileName = "updata.xml";
    static constexpr const char* kCheckName = "check";

    struct Options {
        std::string version;  // decimal digits only: the updater compares versions as integers
        std::vector<std::string> deleteFiles;
        std::vector<std::string> deleteDirectories;
    };

    // The description's XML text for every regular file under `folder` (the description itself
    // left out), a linked one under its own path. Throws std::runtime_error for a bad version, a
    // path the updater could not handle (a "\" or a control character in it), a link that leads
    // out of the folder or an unreadable folder.
    static std::string Build(const std::filesystem::path& folder, const Options& options);

    // True for a relative "/"-separated path without "..", "." or empty parts, "\" or
    // control characters: the only shape of path the update host serves or lists.
    static bool IsSafeRelativePath(const std::string& path);

    // The files a description of ours lists for download (its <file> section).
    static std::vector<std::string> ListedFiles(const std::string& xml);
};
