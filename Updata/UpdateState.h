#pragma once

#include <string>
#include <vector>

// What the updater learns at start-up and the worker acts on: the four items of "version.xml",
// the installed and offered versions, and the entries of the update description's four sections.
struct UpdateState {
    std::string serverUrl;
    std::string basePath;
    std::string checkPage;
    std::string descriptionName;
    std::string localVersion;
    std::string remoteVersion;
    std::vector<std::string> directories;
    std::vector<std::string> files;
    std::vector<std::string> deleteDirectories;
    std::vector<std::string> deleteFiles;

    std::string CheckPath() const { return basePath + "/" + checkPage; }
    std::string DescriptionPath() const { return basePath + "/" + descriptionName; }
    std::string FilePath(const std::string& entry) const { return basePath + "/" + entry; }
};
