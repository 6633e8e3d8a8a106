#include "CXmlDocFile.h"

#include <iterator>

#include <rapidxml/rapidxml_print.hpp>

#include "CFileCipher.h"
#include "XmlNesting.h"

CXmlDocFile::CXmlDocFile(std::string fileName)
    : fileName_(std::move(fileName)), document_(std::make_unique<Document>()) {}

CXmlDocFile::~CXmlDocFile() { Save(); }

bool CXmlDocFile::Load(const std::string& fileName) {
    std::string text;
    if (!LoadEncrypted(fileName, text) || !XmlNestingWithinLimit(text)) return false;

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
