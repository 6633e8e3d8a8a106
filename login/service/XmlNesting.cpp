#include "XmlNesting.h"

#include <algorithm>
#include <string_view>

namespace {

// The parser's character classes (rapidxml's lookup tables).
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsNameChar(char c) { return c != '\0' && !IsSpace(c) && c != '/' && c != '>' && c != '?'; }
bool IsAttributeNameChar(char c) { return IsNameChar(c) && c != '!' && c != '<' && c != '='; }

// Every search below stops at what it looks for and never measures the rest of the text, so a
// text of many short nodes is read in one pass.
struct Text {
    const char* p;    // the next character to read
    const char* end;  // the first 0 byte, or the end: where the parser, too, stops
};

void SkipSpace(Text& t) {
    while (IsSpace(*t.p)) ++t.p;
}

// Moves past the next `mark`; false when the text ends first.
bool SkipPast(Text& t, std::string_view mark) {
    const std::size_t at = std::string_view(t.p, static_cast<std::size_t>(t.end - t.p)).find(mark);
    if (at == std::string_view::npos) return false;
    t.p += at + mark.size();
    return true;
}

// Moves to the next `c`; false when the text ends first.
bool SkipTo(Text& t, char c) {
    t.p = std::find(t.p, t.end, c);
    return t.p != t.end;
}

// A DOCTYPE declaration after "<!DOCTYPE ": up to the first ">" outside square brackets, the
// brackets counted the way the parser counts them (quotes and comments play no part).
bool SkipDoctype(Text& t) {
    while (*t.p != '>') {
        if (*t.p == '\0') return false;
        if (*t.p++ != '[') continue;
        for (int depth = 1; depth > 0; ++t.p) {
            if (*t.p == '\0') return false;
            if (*t.p == '[') ++depth;
            if (*t.p == ']') --depth;
        }
    }
    ++t.p;
    return true;
}

// Moves past `mark` when the text goes on with it.
bool Skip(Text& t, std::string_view mark) {
    if (std::string_view(t.p, std::min<std::size_t>(mark.size(), static_cast<std::size_t>(t.end - t.p))) != mark)
        return false;
    t.p += mark.size();
    return true;
}

enum class Tag { kOpened, kClosedItself, kNotElement, kMalformed };

Tag NotElementIf(bool skipped) { return skipped ? Tag::kNotElement : Tag::kMalformed; }

// One node after its "<", as the parser reads it: an element's name and attributes up to ">" or
// "/>", or a declaration, processing instruction, comment, CDATA section, DOCTYPE or other "<!"
// node, none of which has children. Each end is looked for after the opening marks only: "<?>"
// and "<!-->" do not end there.
Tag ReadNode(Text& t) {
    if (Skip(t, "?")) return NotElementIf(SkipPast(t, "?>"));
    if (Skip(t, "!--")) return NotElementIf(SkipPast(t, "-->"));
    if (Skip(t, "![CDATA[")) return NotElementIf(SkipPast(t, "]]>"));
    if (std::string_view(t.p, std::min<std::size_t>(8, static_cast<std::size_t>(t.end - t.p))) == "!DOCTYPE" &&
        IsSpace(t.p[8])) {
        t.p += 9;
        return NotElementIf(SkipDoctype(t));
    }
    if (*t.p == '!') return NotElementIf(SkipPast(t, ">"));

    const char* name = t.p;
    while (IsNameChar(*t.p)) ++t.p;
    if (t.p == name) return Tag::kMalformed;
    SkipSpace(t);
    while (IsAttributeNameChar(*t.p)) {
        while (IsAttributeNameChar(*t.p)) ++t.p;
        SkipSpace(t);
        if (*t.p++ != '=') return Tag::kMalformed;
        SkipSpace(t);
        const char quote = *t.p;
        if (quote != '"' && quote != '\'') return Tag::kMalformed;
        ++t.p;
        if (!SkipTo(t, quote)) return Tag::kMalformed;
        ++t.p;
        SkipSpace(t);
    }
    if (Skip(t, ">")) return Tag::kOpened;
    if (Skip(t, "/>")) return Tag::kClosedItself;
    return Tag::kMalformed;
}

}  // namespace

// Walks the text with the parser's own grammar (rapidxml, default flags), so that whatever the
// parser would nest, this counts: a part the parser skips (a DOCTYPE's internal subset, a
// quoted value) is skipped here too, and a closing tag only ever ends an element that is open.
// Where the parser would stop with an error, the walk stops and refuses: nothing after that
// point can be trusted to be read the same way.
bool XmlNestingWithinLimit(const std::string& text) {
    const std::size_t nul = text.find('\0');
    Text t{text.c_str(), text.c_str() + (nul == std::string::npos ? text.size() : nul)};
    Skip(t, "\xEF\xBB\xBF");
    int depth = 0;
    for (;;) {
        SkipSpace(t);
        if (t.p == t.end) return depth == 0;
        if (*t.p != '<') {
            if (depth == 0) return false;  // text outside the root
            if (!SkipTo(t, '<')) return false;
            continue;
        }
        if (Skip(t, "</")) {
            if (depth == 0) return false;
            while (IsNameChar(*t.p)) ++t.p;
            SkipSpace(t);
            if (!Skip(t, ">")) return false;
            --depth;
            continue;
        }
        ++t.p;
        switch (ReadNode(t)) {
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
