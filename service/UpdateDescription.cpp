#include "UpdateDescription.h"

#include <algorithm>
#include <stdexcept>

#include "Markup.h"

namespace fs = std::filesystem;

namespace {

void Section(std::string& xml, const char* name, const char* item, const std::vector<std::string>& entries)
{
    if (entries.empty()) {
        xml += "\t<" + std::string(name) + "/>\n";
        return;
    }
    xml += "\t<" + std::string(name) + ">\n";
    for (const auto& entry : entries) {
        xml += "\t\t<" + std::string(item) + ">" + Markup::Escape(entry) + "</" + item + ">\n";
    }
    xml += "\t</" + std::string(name) + ">\n";
}

}  // namespace

bool UpdateDescription::IsSafeRelativePath(const std::string& path)
{
    if (path.empty() || path.front() == '/' || path.back() == '/') return false;
    for (unsigned char c : path) {
        if (c < 0x20 || c == 0x7f || c == '\\') return false;
    }
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string UpdateDescription::Build(const fs::path& folder, const Options& options)
{
    if (options.version.empty() || options.version.size() > 9 ||
        !std::all_of(options.version.begin(), options.version.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
        throw std::runtime_error("the version must be a whole number, e.g. 2");
    }
    std::vector<std::string> directories, files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string relative = fs::relative(entry.path(), folder).generic_string();
        if (relative == kFileName || relative == kCheckName) continue;
        if (!IsSafeRelativePath(relative)) {
            throw std::runtime_error("unusable path in the release folder: " + relative);
        }
        if (entry.is_directory()) {
            directories.push_back(relative);
        } else if (entry.is_regular_file()) {
            files.push_back(relative);
        }
    }
    // Sorted, a parent ("res") comes before its children ("res/icons").
    std::sort(directories.begin(), directories.end());
    std::sort(files.begin(), files.end());
    for (const auto& list : {options.deleteFiles, options.deleteDirectories}) {
        for (const auto& path : list) {
            if (!IsSafeRelativePath(path)) throw std::runtime_error("unusable path to delete: " + path);
        }
    }

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<updata version=\"" + options.version + "\">\n";
    Section(xml, "directory", "dir", directories);
    Section(xml, "file", "f", files);
    Section(xml, "delete_directory", "dir", options.deleteDirectories);
    Section(xml, "delete_file", "f", options.deleteFiles);
    xml += "</updata>\n";
    return xml;
}
