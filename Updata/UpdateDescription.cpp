#include "UpdateDescription.h"

#include <algorithm>
#include <optional>
#include <vector>

#include <rapidxml/rapidxml.hpp>

#include "CXmlDocFile.h"
#include "XmlNesting.h"

namespace {

using Node = rapidxml::xml_node<char>;

std::string Text(const Node* node) { return std::string(node->value(), node->value_size()); }

const Node* NextElement(const Node* node) {
    while (node != nullptr && node->type() != rapidxml::node_element) node = node->next_sibling();
    return node;
}

std::optional<std::vector<std::string>> Section(const Node* root, const char* name) {
    const Node* section = root->first_node(name);
    if (section == nullptr) return std::nullopt;
    std::vector<std::string> entries;
    for (const Node* e = NextElement(section->first_node()); e != nullptr; e = NextElement(e->next_sibling())) {
        auto entry = NormaliseEntry(Text(e));
        if (!entry) return std::nullopt;
        entries.push_back(std::move(*entry));
    }
    return entries;
}

}  // namespace

std::optional<std::string> NormaliseEntry(const std::string& entry) {
    if (entry.empty() || entry.front() == '/' || entry.find('\\') != std::string::npos ||
        entry.find('\0') != std::string::npos)
        return std::nullopt;
    std::string normal;
    std::size_t start = 0;
    while (start <= entry.size()) {
        const std::size_t end = std::min(entry.find('/', start), entry.size());
        const std::string name = entry.substr(start, end - start);
        if (name == "..") return std::nullopt;
        if (!name.empty() && name != ".") normal += (normal.empty() ? "" : "/") + name;
        start = end + 1;
    }
    if (normal.empty()) return std::nullopt;
    return normal;
}

bool ReadVersionFile(const CXmlDocFile& doc, UpdateState& state) {
    const Node* root = doc.Doc().first_node("version");
    if (root == nullptr) return false;
    const auto* ver = root->first_attribute("ver");
    if (ver == nullptr) return false;
    const Node* child[4] = {};
    const Node* at = NextElement(root->first_node());
    for (auto& c : child) {
        if (at == nullptr) return false;
        c = at;
        at = NextElement(at->next_sibling());
    }
    state.localVersion.assign(ver->value(), ver->value_size());
    state.serverUrl = Text(child[0]);
    state.basePath = Text(child[1]);
    state.checkPage = Text(child[2]);
    state.descriptionName = Text(child[3]);
    return true;
}

bool ParseUpdateDescription(const std::string& text, UpdateState& state) {
    if (!XmlNestingWithinLimit(text)) return false;
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    rapidxml::xml_document<char> doc;
    try {
        doc.parse<rapidxml::parse_default>(buffer.data());
    } catch (const rapidxml::parse_error&) {
        return false;
    }
    const Node* root = doc.first_node("updata");
    if (root == nullptr) return false;
    const auto* version = root->first_attribute("version");
    if (version == nullptr) return false;
    auto directories = Section(root, "directory");
    auto files = Section(root, "file");
    auto deleteDirectories = Section(root, "delete_directory");
    auto deleteFiles = Section(root, "delete_file");
    if (!directories || !files || !deleteDirectories || !deleteFiles) return false;

    state.remoteVersion.assign(version->value(), version->value_size());
    state.directories = std::move(*directories);
    state.files = std::move(*files);
    state.deleteDirectories = std::move(*deleteDirectories);
    state.deleteFiles = std::move(*deleteFiles);
    return true;
}
