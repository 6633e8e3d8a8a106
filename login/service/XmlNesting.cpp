#include "XmlNesting.h"

#include <cstring>

namespace {

// The parser's character classes (rapidxml's lookup tables).
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsNameChar(char c) { return c != '\0' && !IsSpace(c) && c != '/' && c != '>' && c != '?'; }
bool IsAttributeNameChar(char c) { return IsNameChar(c) && c != '!' && c != '<' && c != '='; }

void SkipSpace(const char*& p) {
    while (IsSpace(*p)) ++p;
}

// Moves past the next `end`; false when the text ends first.
bool SkipPast(const char*& p, const char* end) {
    const char* at = std::strstr(p, end);
    if (at == nullptr) return false;
    p = at + std::strlen(end);
    return true;
}

// A DOCTYPE declaration after "<!DOCTYPE ": up to the first ">" outside square brackets, the
// brackets counted the way the parser counts them (quotes and comments play no part).
bool SkipDoctype(const char*& p) {
    while (*p != '>') {
        if (*p == '\0') return false;
        if (*p++ != '[') continue;
        for (int depth = 1; depth > 0; ++p) {
            if (*p == '\0') return false;
            if (*p == '[') ++depth;
            if (*p == ']') --depth;
        }
    }
    ++p;
    return true;
}

enum class Tag { kOpened, kClosedItself, kNotElement, kMalformed };

// One node after its "<", as the parser reads it: an element's name and attributes up to ">" or
// "/>", or a declaration, processing instruction, comment, CDATA section, DOCTYPE or other "<!"
// node, none of which has children.
Tag ReadNode(const char*& p) {
    // Each end is looked for after the opening marks only: "<?>" and "<!-->" do not end there.
    if (*p == '?') return SkipPast(++p, "?>") ? Tag::kNotElement : Tag::kMalformed;
    if (*p == '!') {
        if (std::strncmp(p, "!--", 3) == 0) return SkipPast(p += 3, "-->") ? Tag::kNotElement : Tag::kMalformed;
        if (std::strncmp(p, "![CDATA[", 8) == 0) return SkipPast(p += 8, "]]>") ? Tag::kNotElement : Tag::kMalformed;
        if (std::strncmp(p, "!DOCTYPE", 8) == 0 && IsSpace(p[8])) {
            p += 9;
            return SkipDoctype(p) ? Tag::kNotElement : Tag::kMalformed;
        }
        return SkipPast(p, ">") ? Tag::kNotElement : Tag::kMalformed;
    }
    const char* name = p;
    while (IsNameChar(*p)) ++p;
    if (p == name) return Tag::kMalformed;
    SkipSpace(p);
    while (IsAttributeNameChar(*p)) {
        while (IsAttributeNameChar(*p)) ++p;
        SkipSpace(p);
        if (*p++ != '=') return Tag::kMalformed;
        SkipSpace(p);
        const char quote = *p;
        if (quote != '"' && quote != '\'') return Tag::kMalformed;
        p = std::strchr(p + 1, quote);
        if (p == nullptr) return Tag::kMalformed;
        ++p;
        SkipSpace(p);
    }
    if (*p == '>') {
        ++p;
        return Tag::kOpened;
    }
    if (p[0] == '/' && p[1] == '>') {
        p += 2;
        return Tag::kClosedItself;
    }
    return Tag::kMalformed;
}

}  // namespace

// Walks the text with the parser's own grammar (rapidxml, default flags), so that whatever the
// parser would nest, this counts: a part the parser skips (a DOCTYPE's internal subset, a
// quoted value) is skipped here too, and a closing tag only ever ends an element that is open.
// Where the parser would stop with an error, the walk stops and refuses: nothing after that
// point can be trusted to be read the same way.
bool XmlNestingWithinLimit(const std::string& text) {
    const char* p = text.c_str();  // the parser, too, stops at the first 0 byte
    if (std::strncmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;
    int depth = 0;
    for (;;) {
        SkipSpace(p);
        if (*p == '\0') return depth == 0;
        if (*p != '<') {
            if (depth == 0) return false;  // text outside the root
            p = std::strchr(p, '<');
            if (p == nullptr) return false;
            continue;
        }
        if (p[1] == '/') {
            if (depth == 0) return false;
            p += 2;
            while (IsNameChar(*p)) ++p;
            SkipSpace(p);
            if (*p++ != '>') return false;
            --depth;
            continue;
        }
        ++p;
        switch (ReadNode(p)) {
            case Tag::kOpened:
                if (++depth > kMaxXmlDepth) return false;
                break;
            case Tag::kClosedItself:
            case Tag::kNotElement:
                break;
            case Tag::kMalformed:
                return false;
        }
    }
}
