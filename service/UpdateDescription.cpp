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
    const fs::path root = fs::canonical(folder);
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        // Named by where it stands, not by where a link leads.
        const std::string relative = entry.path().lexically_relative(folder).generic_string();
        if (relative == kFileName || relative == kCheckName) continue;
        if (!IsSafeRelativePath(relative)) {
            throw std::runtime_error("unusable path in the release folder: " + relative);
        }
        if (entry.is_symlink()) {
            std::error_code ec;
            const auto inside = fs::canonical(entry.path(), ec).lexically_relative(root);
            if (ec || inside.empty() || *inside.begin() == "..") {
                throw std::runtime_error("link leading out of the release folder: " + relative);
            }
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

std::vector<std::string> UpdateDescription::ListedFiles(const std::string& xml)
{
    std::vector<std::string> files;
    const size_t start = xml.find("<file>");
    const size_t end = start == std::string::npos ? start : xml.find("</file>", start);
    if (end == std::string::npos) return files;
    const std::string section = xml.substr(start, end - start);
    for (size_t at = section.find("<f>"); at != std::string::npos; at = section.find("<f>", at + 3)) {
        const size_t close = section.find("</f>", at);
        if (close == std::string::npos) break;
        files.push_back(Markup::Unescape(section.substr(at + 3, close - at - 3)));
    }
    return files;
}
