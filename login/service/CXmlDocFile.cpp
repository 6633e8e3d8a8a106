#include "CXmlDocFile.h"

#include <iterator>

#include <rapidxml/rapidxml_print.hpp>

#include "CFileCipher.h"

namespace {

// rapidxml parses and prints recursively, one stack frame per level: a file nested a few hundred
// thousand levels deep would overflow the stack. Our documents are a handful of levels deep.
constexpr int kMaxDepth = 256;

std::size_t SkipPast(const std::string& text, std::size_t from, const char* end) {
    const std::size_t at = text.find(end, from);
    return at == std::string::npos ? text.size() : at + std::char_traits<char>::length(end);
}

bool NestingWithinLimit(const std::string& text) {
    int depth = 0;
    std::size_t i = 0;
    while ((i = text.find('<', i)) != std::string::npos) {
        if (text.compare(i, 4, "<!--") == 0) {
            i = SkipPast(text, i + 4, "-->");
        } else if (text.compare(i, 9, "<![CDATA[") == 0) {
            i = SkipPast(text, i + 9, "]]>");
        } else if (text.compare(i, 2, "<?") == 0) {
            i = SkipPast(text, i + 2, "?>");
        } else if (text.compare(i, 2, "<!") == 0 || text.compare(i, 2, "</") == 0) {
            if (text[i + 1] == '/') --depth;
            i = SkipPast(text, i + 2, ">");
        } else {
            // An opening tag: find its end outside quoted attribute values.
            char quote = 0;
            std::size_t j = i + 1;
            for (; j < text.size(); ++j) {
                const char c = text[j];
                if (quote != 0) {
                    if (c == quote) quote = 0;
                } else if (c == '"' || c == '\'') {
                    quote = c;
                } else if (c == '>') {
                    break;
                }
            }
            if (j >= text.size() || text[j - 1] != '/') {
                if (++depth > kMaxDepth) return false;
            }
            i = j + 1;
        }
    }
    return true;
}

}  // namespace

CXmlDocFile::CXmlDocFile(std::string fileName)
    : fileName_(std::move(fileName)), document_(std::make_unique<Document>()) {}

CXmlDocFile::~CXmlDocFile() { Save(); }

bool CXmlDocFile::Load(const std::string& fileName) {
    std::string text;
    if (!LoadEncrypted(fileName, text) || !NestingWithinLimit(text)) return false;

    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    auto parsed = std::make_unique<Document>();
    try {
        parsed->parse<rapidxml::parse_default>(buffer.data());
    } catch (const rapidxml::parse_error&) {
        return false;
    }
    // The new document points into the new buffer: both replace the old pair together.
    text_ = std::move(buffer);
    document_ = std::move(parsed);
    return true;
}

std::string CXmlDocFile::Print() const {
    std::string out;
    rapidxml::print(std::back_inserter(out), *document_);
    return out;
}

bool CXmlDocFile::Save() {
    // A document without any node (nothing loaded, or a failed load) would replace a file that
    // merely could not be read with an empty one.
    if (fileName_.empty() || document_->first_node() == nullptr) return false;
    return SaveEncrypted(fileName_, Print());
}

CXmlDocFile::Node* CXmlDocFile::NewElement(const std::string& name, const std::string& value) {
    Document& doc = *document_;
    const char* n = doc.allocate_string(name.c_str(), name.size() + 1);
    const char* v = value.empty() ? nullptr : doc.allocate_string(value.c_str(), value.size() + 1);
    return doc.allocate_node(rapidxml::node_element, n, v, name.size(), value.size());
}

void CXmlDocFile::SetAttribute(Node* node, const std::string& name, const std::string& value) {
    Document& doc = *document_;
    const char* n = doc.allocate_string(name.c_str(), name.size() + 1);
    const char* v = doc.allocate_string(value.c_str(), value.size() + 1);
    if (auto* existing = node->first_attribute(name.c_str(), name.size())) {
        existing->value(v, value.size());
        return;
    }
    node->append_attribute(doc.allocate_attribute(n, v, name.size(), value.size()));
}
