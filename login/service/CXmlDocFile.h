#pragma once

#include <memory>
#include <string>
#include <vector>

#include <rapidxml/rapidxml.hpp>

// An XML document bound to an enciphered file. The document is written back to the bound file
// when the object is destroyed, changed or not.
class CXmlDocFile {
public:
    using Document = rapidxml::xml_document<char>;
    using Node = rapidxml::xml_node<char>;

    explicit CXmlDocFile(std::string fileName);
    virtual ~CXmlDocFile();
    CXmlDocFile(const CXmlDocFile&) = delete;
    CXmlDocFile& operator=(const CXmlDocFile&) = delete;

    // Reads and parses `fileName`, which need not be the bound file: an owner may load a
    // default file into an object that saves elsewhere. True on success; on any failure
    // (missing, undecipherable, malformed XML) false, with the previous document untouched.
    bool Load(const std::string& fileName);

    // Prints the document (indented) and stores it enciphered in the bound file. False, with
    // nothing written, when the name is empty or the document has no node.
    bool Save();

    const std::string& FileName() const { return fileName_; }
    // Forgets the bound file: from now on the document is written nowhere, not even when the
    // object is destroyed. For an owner that must not let it replace what is on disk.
    void Unbind() { fileName_.clear(); }
    Document& Doc() { return *document_; }
    const Document& Doc() const { return *document_; }

    // The document's plain text as Save() would store it.
    std::string Print() const;

    // Node and attribute helpers whose strings live in the document's own pool.
    Node* NewElement(const std::string& name, const std::string& value = {});
    void SetAttribute(Node* node, const std::string& name, const std::string& value);

private:
    std::string fileName_;
    std::vector<char> text_;  // the document points into this buffer
    std::unique_ptr<Document> document_;
};
